// What the two programs log, at which level, and that no credential, one-time code or verifier is ever in
// it. The helper and the second start that hands over the sign-in link are the real programs. The setup
// application's model and adapters run in this process under the programs' own log output, because the
// program's service address is fixed when it is built and cannot be pointed at a test server.

#include "HelperFixture.h"
#include "ScriptedServer.h"
#include "TestFiles.h"

#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "logging/LogOutput.h"
#include "model/AppModel.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"
#include "platform/SystemNetworkMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
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
        m_saved = ::dup(STDERR_FILENO);
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
    int m_saved = -1;
};

// Stand-ins for what the model does not take part in here.
class NoFolders final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override { co_return {}; }
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
        m_server.answer(QStringLiteral("/api/devices/me"), 401, R"({"error":"Unknown device."})");
        m_server.answer(QStringLiteral("/api/devices/exchange"), 400,
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
            SingleInstance instance(SingleInstance::defaultSocketPath());
            QVERIFY(instance.listen());
            auto *signIn = new SystemBrowserSignIn;
            AppModel model(parts(signIn));
            connect(&instance, &SingleInstance::messageReceived, &model, [signIn](const QString &line) {
                signIn->acceptCallback(QUrl(InstanceMessage::decoded(line).url));
            });

            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(opened), patience);
            const QString state =
                QUrlQuery(QUrl(QString::fromUtf8(TestFiles::read(opened)))).queryItemValue(QStringLiteral("state"));
            QVERIFY(!state.isEmpty());
            QProcess secondStart;
            secondStart.start(QStringLiteral(TARNWICK_APP_PATH),
                              {QStringLiteral("--verbose"),
                               QStringLiteral("tarnwick://auth/callback?state=%1&code=%2").arg(state, code)});
            QVERIFY(secondStart.waitForFinished(patience));
            secondStartLog = QString::fromUtf8(secondStart.readAllStandardError());
            QTRY_VERIFY_WITH_TIMEOUT(model.errorMessage().has_value() && !model.busy(), patience);
            qInstallMessageHandler(nullptr);
        }

        const QList<ScriptedServer::Request> requests = m_server.requests();
        const auto exchange =
            std::find_if(requests.begin(), requests.end(), [](const ScriptedServer::Request &request) {
                return request.path == u"/api/devices/exchange";
            });
        QVERIFY(exchange != requests.end());
        const QJsonObject sent = QJsonDocument::fromJson(exchange->body).object();
        QCOMPARE(sent.value(QStringLiteral("code")).toString(), code);
        m_verifier = sent.value(QStringLiteral("verifier")).toString();
        QVERIFY(!m_verifier.isEmpty());

        const QString log = QString::fromUtf8(TestFiles::read(logPath));
        QVERIFY2(log.contains(QStringLiteral("tarnwick.setup: warning: The service no longer accepts")),
                 qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("tarnwick.setup: info: Sign-in started")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("could not be exchanged: Code already used by [REDACTED].")),
                 qPrintable(log));
        QVERIFY2(secondStartLog.contains(QStringLiteral("tarnwick.setup: info: Handed over")),
                 qPrintable(secondStartLog));
        expectNoSecret(log);
        expectNoSecret(secondStartLog);
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
        QVERIFY(QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(helper.readAllStandardError());
                return log.contains(QStringLiteral("ended unexpectedly"));
            },
            patience));
        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(helper.waitForFinished(patience));
        log += QString::fromUtf8(helper.readAllStandardError());

        QVERIFY2(
            log.contains(QStringLiteral("tarnwick.supervisor: warning: The runner ended unexpectedly, exit code 3")),
            qPrintable(log));
        QCOMPARE(log.contains(QStringLiteral("tarnwick.supervisor: info: Launched the runner")), verbose);
        QCOMPARE(log.contains(QStringLiteral("tarnwick.supervisor: info: Stopped")), verbose);
        expectNoSecret(log);
    }

private:
    AppModelParts parts(SystemBrowserSignIn *signIn)
    {
        AppModelParts parts;
        parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
        parts.credentialStore = std::make_unique<SystemCredentialStore>(std::nullopt);
        parts.api = std::make_unique<DeviceAPIClient>(m_server.url());
        const QString autostart = m_scratch.filePath(QStringLiteral("helper.desktop"));
        parts.loginItem = [autostart] {
            return std::make_shared<SystemLoginItemManager>(
                SystemLoginItemManager::Locations{QStringLiteral(TARNWICK_HELPER_PATH), autostart},
                [] { return std::optional<pid_t>(); });
        };
        parts.signIn.reset(signIn);
        parts.discoverProviders = [] { return ProviderReadiness{}; };
        parts.folderChooser = std::make_unique<NoFolders>();
        parts.networkMonitor = std::make_unique<SystemNetworkMonitor>();
        parts.clock = std::make_unique<SystemClock>();
        parts.deviceName = [] { return QStringLiteral("Canary"); };
        parts.statusPath = AppPaths::status();
        parts.baseURL = m_server.url();
        return parts;
    }

    void expectNoSecret(const QString &log)
    {
        const QString credential = HelperFixture::credential();
        QStringList secrets{credential, credential.section(u'.', 1), code};
        if (!m_verifier.isEmpty())
            secrets.append(m_verifier);
        for (const QString &secret : std::as_const(secrets))
            QVERIFY2(!log.contains(secret), qPrintable(QStringLiteral("found %1 in:\n%2").arg(secret, log)));
    }

    std::optional<HelperFixture> m_fixture;
    ScriptedServer m_server;
    QTemporaryDir m_scratch;
    QString m_verifier;
};

QTEST_GUILESS_MAIN(tst_Logs)
#include "tst_logs.moc"
