#pragma once

#include "model/FolderChoosing.h"

#include <QPointer>
#include <QWindow>

// The desktop's own file chooser through the XDG desktop portal (directories, several at once); where no
// portal runs, a Qt folder dialog that lets the user select several folders.
class SystemFolderChooser final : public FolderChoosing
{
public:
    // The dialog is modal to this window when it is given.
    void setParentWindow(QWindow *window) { m_parent = window; }

    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &title, const QString &acceptLabel) override;

private:
    QCoro::Task<std::optional<QList<QUrl>>> chooseWithPortal(const QString &title, const QString &acceptLabel);
    QCoro::Task<std::optional<QList<QUrl>>> chooseWithDialog(const QString &title, const QString &acceptLabel);

    QPointer<QWindow> m_parent;
};
