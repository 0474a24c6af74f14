#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The runner that ships in the bundle, run by the bundle's runtime the way the helper runs it.
class tst_RunnerScript : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheRunnerContract_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::newRow("configuration") << QByteArrayLiteral("{\"apiUrl\": \"http:\\/\\/127.0.0.1:8787\\/\"}");
        QTest::newRow("unreadable configuration") << QByteArrayLiteral("{");
        QTest::newRow("no configuration") << QByteArray();
    }

    void keepsTheRunnerContract()
    {
        QFETCH(QByteArray, config);
        QTemporaryDir workingDirectory;
        if (!config.isNull()) {
            QFile file(workingDirectory.filePath(QStringLiteral("config.json")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(config);
        }
        const QDir bundle(QStringLiteral(BUNDLE_DIR));
        QProcess runner;
        runner.setProgram(bundle.filePath(QStringLiteral("Contents/Resources/runtime/node")));
        runner.setArguments({bundle.filePath(QStringLiteral("Contents/Resources/runner/runner.js"))});
        runner.setWorkingDirectory(workingDirectory.path());
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("HOME"), QDir::homePath());
        environment.insert(QStringLiteral("NODE_ENV"), QStringLiteral("production"));
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
        environment.insert(QStringLiteral("TMPDIR"), QDir::tempPath());
        runner.setProcessEnvironment(environment);
        runner.start();
        QVERIFY(runner.waitForStarted());
        runner.write("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301.abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP\n");
        runner.closeWriteChannel();

        // Stays alive after its input has ended…
        QVERIFY(!runner.waitForFinished(1500));
        QCOMPARE(runner.state(), QProcess::Running);

        // …and leaves promptly, without complaint, when asked to.
        QElapsedTimer elapsed;
        elapsed.start();
        runner.terminate();
        QVERIFY(runner.waitForFinished(10000));
        QVERIFY(elapsed.elapsed() < 5000);
        QCOMPARE(runner.exitStatus(), QProcess::NormalExit);
        QCOMPARE(runner.exitCode(), 0);
        QCOMPARE(runner.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(tst_RunnerScript)
#include "tst_runnerscript.moc"
