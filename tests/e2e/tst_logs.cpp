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
#include <QTest>
#include <QUrlQuery>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int patience = 30000;
const QString code = QStringLiteral("canaryCode").leftJustified(43, u'q');

// Standard error of this process into a file while it lives.
class StandardErrorCapture
{
public:
    explicit StandardErrorCapture(const QString &path)
    {
        std::fflush(stderr);
        const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
    }
    ~StandardErrorCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }

private:
    const int m_saved = ::dup(STDERR_FILENO);
};

} // namespace

class tst_Logs : public QObject
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
        const QString opened = m_scratch.filePath(QStringLiteral("opened"));
        const QString browser = m_scratch.filePath(QStringLiteral("browser.sh"));
        QVERIFY(TestFiles::writeScript(browser, "printf '%s' \"$1\" > \"$0.opened.tmp\" && mv \"$0.opened.tmp\" "
                                                    + QFile::encodeName(opened)));
        qputenv("BROWSER", QFile::encodeName(browser));

        const QString logPath = m_scratch.filePath(QStringLiteral("setup.log"));
        QString secondStartLog;
        {
            const StandardErrorCapture capture(logPath);
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

        const QList<ScriptedServer::Request> requests = server.requests();
        const auto exchange = std::find_if(requests.begin(), requests.end(), [](const auto &request) {
            return request.path == u"/api/devices/exchange";
        });
        QVERIFY(exchange != requests.end());
        const QJsonObject sent = QJsonDocument::fromJson(exchange->body).object();
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
        ::kill(pid_t(helper.processId()), SIGTERM);
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

QTEST_GUILESS_MAIN(tst_Logs)
#include "tst_logs.moc"
