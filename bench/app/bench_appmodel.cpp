// How much the setup window's model costs while it sits on the ready screen: one status reading (the
// 3-second tick) and the repaint of a symbol. Prints figures; run by hand.
#include "AppStandIns.h"
#include "model/AppModel.h"
#include "view/SymbolItem.h"

#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void report(const char *what, qint64 nanoseconds, int rounds)
{
    std::printf("%-38s %10.2f µs\n", what, double(nanoseconds) / rounds / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    (void)StatusStore(AppPaths::status())
        .save(HelperStatus(HelperStatus::State::connected, QDateTime::currentDateTimeUtc()));
    AppStandIns standIns;
    AppModel model(standIns.parts(QUrl(QStringLiteral("http://127.0.0.1:9/"))));

    constexpr int rounds = 5000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        model.readStatus();
    report("readStatus (one 3-second tick)", timer.nsecsElapsed(), rounds);

    SymbolItem symbol;
    symbol.setSize(QSizeF(18, 18));
    symbol.setName(QStringLiteral("checkmark.circle.fill"));
    QImage canvas(36, 36, QImage::Format_ARGB32_Premultiplied);
    timer.restart();
    for (int i = 0; i < rounds; ++i) {
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        symbol.paint(&painter);
    }
    report("symbol repaint at 18 x 18", timer.nsecsElapsed(), rounds);
    return 0;
}
