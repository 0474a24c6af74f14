#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QStringList>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// The folders the user permits, in the order chosen: for each its name (the last path component), its
// path, and the path as the window shows it, with the home folder written "~".
class FolderListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The window's folders are AppModel.folders.")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { NameRole = Qt::UserRole + 1, PathRole, DisplayPathRole };

    using QAbstractListModel::QAbstractListModel;

    const QList<QUrl> &folders() const { return m_folders; }
    QStringList paths() const;
    // Answers whether the list changed.
    bool setFolders(QList<QUrl> folders);
    int count() const { return int(m_folders.size()); }
    // "Folder: work" or "Folders: work, site", for the ready screen.
    QString summary() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    QList<QUrl> m_folders;
};
