#include "config/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

class AppPathsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_dataHome = qgetenv("XDG_DATA_HOME"); }
    void cleanup() { qputenv("XDG_DATA_HOME", m_dataHome); }
    void followsTheDataHome_data();
    void followsTheDataHome();
    void recomputedOnEveryCall();
    void filesShareTheDirectory();

private:
    QByteArray m_dataHome;
};

void AppPathsTest::followsTheDataHome_data()
{
    QTest::addColumn<QByteArray>("dataHome");
    QTest::addColumn<QString>("expected");

    const QString fallback = QDir::homePath() + QStringLiteral("/.local/share/Tarnwick");
    QTest::newRow("absolute") << QByteArray("/var/tmp/data") << QStringLiteral("/var/tmp/data/Tarnwick");
    QTest::newRow("trailing slash") << QByteArray("/var/tmp/data/") << QStringLiteral("/var/tmp/data/Tarnwick");
    QTest::newRow("unset") << QByteArray() << fallback;
    QTest::newRow("relative is ignored") << QByteArray("data") << fallback;
}

void AppPathsTest::followsTheDataHome()
{
    QFETCH(QByteArray, dataHome);
    QFETCH(QString, expected);
    if (dataHome.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", dataHome);

    QCOMPARE(AppPaths::applicationSupportDirectory(), expected);
    QVERIFY(!QFileInfo::exists(expected));
}

void AppPathsTest::recomputedOnEveryCall()
{
    qputenv("XDG_DATA_HOME", "/first");
    QCOMPARE(AppPaths::config(), QStringLiteral("/first/Tarnwick/config.json"));
    qputenv("XDG_DATA_HOME", "/second");
    QCOMPARE(AppPaths::config(), QStringLiteral("/second/Tarnwick/config.json"));
}

void AppPathsTest::filesShareTheDirectory()
{
    const QFileInfo config(AppPaths::config());
    const QFileInfo status(AppPaths::status());

    QCOMPARE(config.fileName(), QStringLiteral("config.json"));
    QCOMPARE(status.fileName(), QStringLiteral("status.json"));
    QCOMPARE(config.absolutePath(), AppPaths::applicationSupportDirectory());
    QCOMPARE(status.absolutePath(), AppPaths::applicationSupportDirectory());
    QCOMPARE(QFileInfo(AppPaths::applicationSupportDirectory()).fileName(), QStringLiteral("Tarnwick"));
}

QTEST_GUILESS_MAIN(AppPathsTest)
#include "tst_apppaths.moc"
