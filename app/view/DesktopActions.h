#pragma once

#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// What the window does on the desktop by itself rather than through the model: open the service's
// dashboard in the browser, open the desktop's startup-applications settings, put a text on the
// clipboard. QML sees the window engine's one as the singleton Desktop.
class DesktopActions : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Desktop)
    QML_SINGLETON
public:
    explicit DesktopActions(QUrl dashboard, QObject *parent = nullptr);
    static DesktopActions *create(QQmlEngine *engine, QJSEngine *);

    Q_INVOKABLE virtual void openDashboard();
    Q_INVOKABLE virtual void openLoginItemsSettings();
    Q_INVOKABLE virtual void copyToClipboard(const QString &text);

protected:
    QUrl m_dashboard;
};
