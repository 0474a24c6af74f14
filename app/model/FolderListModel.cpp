#include "FolderListModel.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString homeAbbreviated(const QString &path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString lastPathComponent(const QString &path)
{
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    return name.isEmpty() ? path : name;
}

} // namespace

QStringList FolderListModel::paths() const
{
    QStringList paths;
    for (const QUrl &folder : m_folders)
        paths.append(folder.toLocalFile());
    return paths;
}

bool FolderListModel::setFolders(QList<QUrl> folders)
{
    if (m_folders == folders)
        return false;
    const bool countChanges = folders.size() != m_folders.size();
    beginResetModel();
    m_folders = std::move(folders);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
    return true;
}

QString FolderListModel::summary() const
{
    QStringList names;
    for (const QString &path : paths())
        names.append(lastPathComponent(path));
    const QString label = names.size() == 1 ? QStringLiteral("Folder") : QStringLiteral("Folders");
    return label + QStringLiteral(": ") + names.join(QStringLiteral(", "));
}

int FolderListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant FolderListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QString path = m_folders.at(index.row()).toLocalFile();
    switch (role) {
    case NameRole: return lastPathComponent(path);
    case PathRole: return path;
    case DisplayPathRole: return homeAbbreviated(path);
    }
    return {};
}

QHash<int, QByteArray> FolderListModel::roleNames() const
{
    return {{NameRole, "name"}, {PathRole, "path"}, {DisplayPathRole, "displayPath"}};
}
