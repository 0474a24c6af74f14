// What the two programs log, at which level, and that no credential, one-time code or verifier is ever in
// it. The helper and the second start that hands over the sign-in link are the real programs. The setup
// application's model and adapters run in this process under the programs' own log output, because the
// program's service address is fixed when it is built and cannot be pointed at a test server.

#include "HelperFixture.h"
#include "ScriptedServer.h"
#include "SystemSetup.h"
#include "TestFiles.h"

#include "logging/LogOutput.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QUrlQuery>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int patience = 30000;
const QString code = QStringLiteral("canaryCode").leftJustified(43, u'q');

// Standard error of this process goes into the file at `path` until the answer goes out of scope.
auto captureStandardError(const QString &path)
{
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    return qScopeGuard([saved] {
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    });
}

} // namespace

class TestLogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_fixture.emplace(); }

    // A rejected credential, a new sign-in in the browser, its link handed over by a second start, and an
    // exchange the service refuses with a message that quotes the credential.
    void theSetupApplicationLogsNoSecret()
    {
        ScriptedServer server;
        server.answer(QStringLiteral("/api/devices/me"), 401, R"({"error":"Unknown device."})");
        server.answer(QStringLiteral("/api/devices/exchange"), 400,
                      R"({"error":"Code already used by )" + HelperFixture::credential().toUtf8() + R"(."})");
        const QString browser = m_scratch.filePath(QStringLiteral("browser.sh"));
        const QString opened = browser + QStringLiteral(".opened");
        QVERIFY(TestFiles::writeScript(browser, R"(printf '%s' "$1" > "$0.tmp" && mv "$0.tmp" "$0.opened")"));
        qputenv("BROWSER", QFile::encodeName(browser));

        const QString logPath = m_scratch.filePath(QStringLiteral("setup.log"));
        QString secondStartLog;
        {
            const auto capture = captureStandardError(logPath);
            LogOutput::install(true);
            SystemSetup setup(server.url());
            QVERIFY(setup.listen());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(opened), patience);
            const QUrlQuery page(QUrl(QString::fromUtf8(TestFiles::read(opened))));
            const QString link = QStringLiteral("tarnwick://auth/callback?state=%1&code=%2")
                                     .arg(page.queryItemValue(QStringLiteral("state")), code);
            QProcess secondStart;
            secondStart.start(QStringLiteral(TARNWICK_APP_PATH), {QStringLiteral("--verbose"), link});
            QVERIFY(secondStart.waitForFinished(patience));
            secondStartLog = QString::fromUtf8(secondStart.readAllStandardError());
            QTRY_VERIFY_WITH_TIMEOUT(setup.model().errorMessage() && !setup.model().busy(), patience);
            qInstallMessageHandler(nullptr);
        }

        // The exchange is the last request.
        const QJsonObject sent = QJsonDocument::fromJson(server.requests().last().body).object();
        QCOMPARE(sent.value(QStringLiteral("code")).toString(), code);
        const QString verifier = sent.value(QStringLiteral("verifier")).toString();
        QVERIFY(!verifier.isEmpty());

        const QString log = QString::fromUtf8(TestFiles::read(logPath));
        for (const char *line :
             {"tarnwick.setup: warning: The service no longer accepts", "tarnwick.setup: info: Sign-in started",
              "could not be exchanged: Code already used by [REDACTED]."})
            QVERIFY2(log.contains(QLatin1String(line)), qPrintable(log));
        QVERIFY2(secondStartLog.contains(QStringLiteral("tarnwick.setup: info: Handed over")),
                 qPrintable(secondStartLog));
        expectNoSecret(log + secondStartLog, {verifier});
    }

    // Warnings by default, the rest with --verbose; the runner takes the credential and crashes.
    void theHelperLogsByLevelAndNoSecret_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("default") << false;
        QTest::newRow("verbose") << true;
    }
    void theHelperLogsByLevelAndNoSecret()
    {
        QFETCH(bool, verbose);
        m_fixture->setRuntime("cat > /dev/null\nexit 3\n");
        QProcess helper;
        helper.start(QStringLiteral(TARNWICK_HELPER_PATH),
                     verbose ? QStringList{QStringLiteral("--verbose")} : QStringList{});
        QString log;
        const auto readLog = [&] { return log += QString::fromUtf8(helper.readAllStandardError()); };
        QVERIFY(QTest::qWaitFor([&] { return readLog().contains(QStringLiteral("ended unexpectedly")); }, patience));
        helper.terminate();
        QVERIFY(helper.waitForFinished(patience));
        readLog();
        QVERIFY2(
            log.contains(QStringLiteral("tarnwick.supervisor: warning: The runner ended unexpectedly, exit code 3")),
            qPrintable(log));
        QCOMPARE(log.contains(QStringLiteral("tarnwick.supervisor: info: Launched the runner")), verbose);
        QCOMPARE(log.contains(QStringLiteral("tarnwick.supervisor: info: Stopped")), verbose);
        expectNoSecret(log);
    }

private:
    static void expectNoSecret(const QString &log, const QStringList &more = {})
    {
        const QString credential = HelperFixture::credential();
        for (const QString &secret : QStringList{credential, credential.section(u'.', 1), code} + more)
            QVERIFY2(!log.contains(secret), qPrintable(QStringLiteral("found %1 in:\n%2").arg(secret, log)));
    }

    std::optional<HelperFixture> m_fixture;
    QTemporaryDir m_scratch;
};

QTEST_GUILESS_MAIN(TestLogs)
#include "tst_logs.moc"
