#include "WindowLoader.h"

#include "view/ShadowImageProvider.h"
#include "view/SymbolItem.h"
#include "view/WindowEngine.h"

#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

// The two modules are static libraries: importing their plugins links their types and files in.
Q_IMPORT_QML_PLUGIN(Tarnwick_StylePlugin)
Q_IMPORT_QML_PLUGIN(TarnwickPlugin)

WindowLoader::WindowLoader(AppModel &model, DesktopActions &desktop, const QString &logoMarkPath)
    : m_engine(std::make_unique<WindowEngine>(model, desktop))
{
    // The window is small and mostly still: drawing it on the main thread saves a render thread and the
    // heap it would keep (about 10 MB under a software GL driver) and costs nothing visible. A user's own
    // QSG_RENDER_LOOP still wins.
    if (!qEnvironmentVariableIsSet("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");
    SymbolItem::setLogoMarkPath(logoMarkPath);
    m_engine->addImageProvider(QStringLiteral("shadow"), new ShadowImageProvider);
    // Where the modules lie in the resources (Qt 6.5 looks there by itself).
    m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    m_engine->load(QUrl(QStringLiteral("qrc:/qt/qml/Tarnwick/Main.qml")));
}

WindowLoader::~WindowLoader() = default;

QQuickWindow *WindowLoader::window() const
{
    const QList<QObject *> roots = m_engine->rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}
