#pragma once

#include <QObject>
#include <QUrl>

// What the window does on the desktop by itself rather than through the model: open the service's
// dashboard in the browser, open the desktop's startup-applications settings, put a text on the
// clipboard.
class DesktopActions : public QObject
{
    Q_OBJECT
public:
    explicit DesktopActions(QUrl dashboard, QObject *parent = nullptr);

    Q_INVOKABLE virtual void openDashboard();
    Q_INVOKABLE virtual void openLoginItemsSettings();
    Q_INVOKABLE virtual void copyToClipboard(const QString &text);

protected:
    QUrl m_dashboard;
};
