#include "WindowTestSupport.h"

#include <QApplication>
#include <QDir>

#include <dlfcn.h>
#include <QTest>

using Situation = WindowHarness::Situation;

// Draws every screen under a real X server (so drop shadows render) and, when TARNWICK_SCREENSHOT_DIR is
// set, keeps each as a PNG there.
class AppScreensTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void screen_data();
    void screen();
};

void AppScreensTest::screen_data()
{
    QTest::addColumn<Situation>("situation");
    QTest::newRow("connect-signing-in") << Situation::signInOpen;
    QTest::newRow("connect-error") << Situation::signInError;
    QTest::newRow("providers-checking") << Situation::checkingProviders;
    QTest::newRow("providers-ready") << Situation::providersReady;
    QTest::newRow("providers-missing") << Situation::providersMissing;
    QTest::newRow("folders-empty") << Situation::noFolders;
    QTest::newRow("folders-one") << Situation::oneFolder;
    QTest::newRow("folders-two") << Situation::twoFolders;
    QTest::newRow("ready-checking-connection") << Situation::checkingConnection;
    QTest::newRow("ready-offline") << Situation::offline;
    QTest::newRow("ready-for-calls") << Situation::readyForCalls;
    QTest::newRow("ready-getting-ready") << Situation::gettingReady;
    QTest::newRow("ready-could-not-start") << Situation::couldNotStart;
    QTest::newRow("ready-needs-approval") << Situation::needsApproval;
}

void AppScreensTest::screen()
{
    QFETCH(Situation, situation);
    WindowHarness harness(situation);
    QVERIFY(harness.window());
    // Let animations and the first frames settle.
    QTest::qWait(300);
    const QImage shot = harness.window()->grabWindow();
    QVERIFY(!shot.isNull());
    QCOMPARE(shot.width(), int(440 * harness.window()->devicePixelRatio()));

    const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(shot.save(folder + QLatin1Char('/') + QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png")));
    }
}

// Mesa's software GL driver keeps a few bytes for good and is unloaded before the leak check can name
// it; kept loaded, its allocations carry its name and the suppression below applies to them alone.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:swrast_dri.so\n";
}

int main(int argc, char *argv[])
{
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    QApplication application(argc, argv);
    AppScreensTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_appscreens.moc"
