#include "common/HelperInstanceLock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

class tst_HelperInstanceLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oneHelperHoldsTheLock()
    {
        QVERIFY(!HelperInstanceLock::runningHelperPid());
        QVERIFY(HelperInstanceLock::path().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/'));
        {
            const Result<HelperInstanceLock> held = HelperInstanceLock::acquire(0ms);
            QVERIFY(held);
            QCOMPARE(HelperInstanceLock::runningHelperPid(), QCoreApplication::applicationPid());

            QFile file(HelperInstanceLock::path());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray::number(QCoreApplication::applicationPid()) + '\n');

            QElapsedTimer waited;
            waited.start();
            QVERIFY(!HelperInstanceLock::acquire(300ms));
            QVERIFY(waited.elapsed() >= 300);
        }
        QVERIFY(!HelperInstanceLock::runningHelperPid());
        QVERIFY(HelperInstanceLock::acquire(0ms));
    }

    void aPlantedSymlinkIsRefused()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        QFile::remove(HelperInstanceLock::path());
        QVERIFY(QFile::link(target, HelperInstanceLock::path()));
        QVERIFY(!HelperInstanceLock::acquire(0ms));
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::remove(HelperInstanceLock::path()));
    }
};

QTEST_GUILESS_MAIN(tst_HelperInstanceLock)
#include "tst_helperinstancelock.moc"
