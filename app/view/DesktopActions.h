#pragma once

#include <QObject>
#include <QUrl>

// The two things the window does on the desktop by itself rather than through the model: open the
// service's dashboard in the browser and open the desktop's startup-applications settings.
class DesktopActions : public QObject
{
    Q_OBJECT
public:
    explicit DesktopActions(QUrl dashboard, QObject *parent = nullptr);

    Q_INVOKABLE virtual void openDashboard();
    Q_INVOKABLE virtual void openLoginItemsSettings();

protected:
    QUrl m_dashboard;
};
