// Time to the first frame of a window, for the setup window and for a bare Qt Quick window:
//   bench-first-frame setup|bare [stay]
// Prints the milliseconds from the start of main() to the window's first swapped frame, then quits
// (or, with "stay", keeps the window open until killed, for its memory to be read). bench/run.sh runs
// both many times as whole processes (loading included) and compares them.
#include "AppStandIns.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

namespace {

const QByteArray bareWindow = "import QtQuick\nWindow { width: 440; height: 300; visible: true; color: \"#f4efe6\" }\n";

int reportFirstFrame(QQuickWindow *window, const QElapsedTimer &sinceMain, bool stay)
{
    if (!window)
        return 1;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [&sinceMain, stay] {
            std::printf("%.1f\n", double(sinceMain.nsecsElapsed()) / 1e6);
            std::fflush(stdout);
            if (!stay)
                QCoreApplication::quit();
        },
        Qt::SingleShotConnection);
    window->show();
    return QGuiApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    const bool setup = argc > 1 && std::strcmp(argv[1], "setup") == 0;
    const bool stay = argc > 2 && std::strcmp(argv[2], "stay") == 0;
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QGuiApplication application(argc, argv);

    if (!setup) {
        QQmlApplicationEngine engine;
        engine.loadData(bareWindow);
        return reportFirstFrame(
            engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first()),
            sinceMain, stay);
    }
    AppStandIns standIns;
    AppModel model(standIns.parts(QUrl(QStringLiteral("http://127.0.0.1:9/"))));
    DesktopActions desktop(QUrl(QStringLiteral("http://127.0.0.1:9/")));
    WindowLoader loader(model, desktop, QStringLiteral(TARNWICK_BENCH_LOGO_MARK));
    return reportFirstFrame(loader.window(), sinceMain, stay);
}
