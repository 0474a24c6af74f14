#include "WindowLoader.h"

#include "view/SymbolItem.h"
#include "view/WindowEngine.h"

#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

// The two modules are static libraries: importing their plugins links their types and files in.
Q_IMPORT_QML_PLUGIN(Tarnwick_StylePlugin)
Q_IMPORT_QML_PLUGIN(TarnwickPlugin)

void WindowLoader::chooseRendering()
{
    // The window is small, flat and mostly still, so Qt Quick's software renderer draws it: no GL driver
    // or shader compiler is loaded and no context made. Under Mesa's software GL driver, which compiles a
    // program for each kind of item drawn, that halves the window's start-up time and memory. A user who
    // asks for a graphics backend gets it.
    const bool userChose =
        qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND");
    if (!userChose && QQuickWindow::sceneGraphBackend().isEmpty())
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Drawn on the main thread either way: a render thread would keep a heap of its own (about 10 MB under
    // a software GL driver) and buys nothing visible here. A user's own QSG_RENDER_LOOP still wins.
    if (!qEnvironmentVariableIsSet("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");
}

WindowLoader::WindowLoader(AppModel &model, DesktopActions &desktop, const QString &logoMarkPath)
    : m_engine(std::make_unique<WindowEngine>(model, desktop))
{
    chooseRendering();
    SymbolItem::setLogoMarkPath(logoMarkPath);
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
