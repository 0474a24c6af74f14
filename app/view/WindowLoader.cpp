#include "WindowLoader.h"

#include "model/AppModel.h"
#include "view/DesktopActions.h"
#include "view/ShadowImageProvider.h"
#include "view/SymbolItem.h"

#include <QQmlContext>
#include <QtQml/qqml.h>
#include <QQuickWindow>

WindowLoader::WindowLoader(AppModel &model, DesktopActions &desktop, const QString &logoMarkPath)
    : m_engine(std::make_unique<QQmlApplicationEngine>())
{
    // The window is small and mostly still: drawing it on the main thread saves a render thread and the
    // heap it would keep (about 10 MB under a software GL driver) and costs nothing visible. A user's own
    // QSG_RENDER_LOOP still wins.
    if (!qEnvironmentVariableIsSet("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");
    SymbolItem::setLogoMarkPath(logoMarkPath);
    qmlRegisterType<SymbolItem>("Tarnwick.Symbols", 1, 0, "SymbolItem");
    m_engine->addImageProvider(QStringLiteral("shadow"), new ShadowImageProvider);
    m_engine->rootContext()->setContextProperty(QStringLiteral("appModel"), &model);
    m_engine->rootContext()->setContextProperty(QStringLiteral("desktop"), &desktop);
    m_engine->load(QUrl(QStringLiteral("qrc:/tarnwick/qml/Main.qml")));
}

WindowLoader::~WindowLoader() = default;

QQuickWindow *WindowLoader::window() const
{
    const QList<QObject *> roots = m_engine->rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}
