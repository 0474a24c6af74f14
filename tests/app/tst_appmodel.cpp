// The setup application's model over in-process stand-ins, the service scripted on loopback.

#include "AppStandIns.h"
#include "ScriptedServer.h"
#include "SetupFixtures.h"
#include "TestFiles.h"

#include "config/AppPaths.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace SetupFixtures;
using State = HelperStatus::State;
using Step = OnboardingStep;
using Ready = AppModel::ReadyState;

namespace {

constexpr int patience = 10000;

QString queryValue(const QUrl &url, const QString &name)
{
    return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded);
}
std::optional<QString> shown(const QString &message)
{
    return message.isEmpty() ? std::nullopt : std::optional(message);
}

// When the window is first shown: while the stored setup is read, after the user signed in, or once it
// has been read.
enum class FirstShown { whileRestoring, signedIn, restored };
// What happens while the start-up confirmation waits for its answer.
enum class Meanwhile { nothing, logOut, signIn, check, slowLogOut };

struct ConfirmationRow
{
    Meanwhile meanwhile;
    int answer; // the confirmation's status, once the meanwhile is done; 0: none yet
    Step step;
    bool restarted;
    int opened = 0; // sign-ins
    QString message = {};
    QString refused = {}; // the login item's call that fails
};
struct StatusRow
{
    Step before; // needsAttention: a stopped helper, or the pending recovery, put the step there
    State state;
    std::optional<qint64> age;
    Step step;
    Ready ready;
    LoginItemState item = LoginItemState::enabled; // anything else: a recovery action is pending
    HelperRecoveryAction action = HelperRecoveryAction::none;
    QString message = QStringLiteral("The background service couldn't start.");
};
struct FinishRow
{
    Stored stored;
    bool agent;
    bool atFolders;
    QStringList folders;
    QString fault;   // "config" or "login item": that part refuses
    QString message; // empty: setup is finished
};
struct SignInRow
{
    Stored stored;
    QString browser; // what the browser does, or the callback it hands back
    Step step;
    QString message;
};

} // namespace

Q_DECLARE_METATYPE(Stored)
Q_DECLARE_METATYPE(FirstShown)
Q_DECLARE_METATYPE(ConfirmationRow)
Q_DECLARE_METATYPE(StatusRow)
Q_DECLARE_METATYPE(FinishRow)
Q_DECLARE_METATYPE(SignInRow)

class TestAppModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedServer> m_server;
    AppStandIns m_standIns;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<QSignalSpy> m_finished;

    // A model over the stand-ins with `stored` in the stores, once the stored credential has been read (off
    // the main thread) unless `restoring`; the service confirms this device unless the test scripted
    // otherwise, and statuses are read when a test asks.
    AppModel &start(Stored stored, std::chrono::milliseconds recoveryDelay = 3s, bool restoring = false)
    {
        AppModelParts parts = m_standIns.parts(m_server->url());
        parts.statusInterval = 1h;
        parts.recoveryDelay = recoveryDelay;
        m_standIns.store(stored);
        m_model = std::make_unique<AppModel>(std::move(parts));
        m_finished = std::make_unique<QSignalSpy>(m_model.get(), &AppModel::operationFinished);
        if (!restoring)
            restored();
        return *m_model;
    }
    void restored() { QTRY_VERIFY_WITH_TIMEOUT(!m_model->restoring(), patience); }
    // Waits for the start-up confirmation to be answered.
    void confirmed() { QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), patience); }
    void idle() { QTRY_VERIFY_WITH_TIMEOUT(!m_model->busy(), patience); }
    // The browser comes back to `callback`, its %1 the state of the last page opened and %2 a code.
    void callBack(const QString &callback = QStringLiteral("tarnwick://auth/callback?state=%1&code=%2"))
    {
        const QString state = queryValue(m_standIns.signIn->openedPages.last(), QStringLiteral("state"));
        m_standIns.signIn->finish(QUrl(
            QString(callback).replace(QStringLiteral("%1"), state).replace(QStringLiteral("%2"), QString(43, u'c'))));
    }
    QStringList loginItemCalls() const { return m_standIns.loginItem->calls; }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<ScriptedServer>();
        QVERIFY(m_server->port());
        m_server->answer(mePath, 200, meJson(device));
        *m_standIns.discovered = codexOnly;
        QFile::remove(AppPaths::status());
    }
    void cleanup() { m_finished.reset(), m_model.reset(), m_server.reset(); }

    // What the stores hold decides the first step; what cannot be read as a setup needs attention, and
    // the service is asked only about a stored credential. The first showing of the window opens the
    // sign-in by itself once the stored setup has been read, unless one is open already; nothing else
    // ever does, neither the model alone nor a later showing nor a log-out.
    void startUp_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<FirstShown>("firstShown");
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("message");
        using F = FirstShown;
        QTest::newRow("first launch") << Stored::nothing << F::whileRestoring << Step::connect << QString();
        QTest::newRow("first launch, signed in first") << Stored::nothing << F::signedIn << Step::connect << QString();
        QTest::newRow("first launch, shown late") << Stored::nothing << F::restored << Step::connect << QString();
        QTest::newRow("finished setup") << Stored::finishedSetup << F::whileRestoring << Step::connected << QString();
        QTest::newRow("configuration unreadable")
            << Stored::unreadableConfiguration << F::whileRestoring << Step::needsAttention
            << QStringLiteral("The data couldn’t be read.");
        QTest::newRow("credential names no device")
            << Stored::credentialWithoutDevice << F::whileRestoring << Step::needsAttention
            << QStringLiteral("The saved device credential is invalid.");
    }
    void startUp()
    {
        QFETCH(Stored, stored);
        QFETCH(FirstShown, firstShown);
        QFETCH(Step, step);
        QFETCH(QString, message);
        AppModel &model = start(stored, 3s, true);
        m_standIns.loginItem->currentState = LoginItemState::notRegistered;
        if (firstShown == FirstShown::signedIn)
            model.signIn();
        if (firstShown != FirstShown::restored)
            model.windowShown();
        QCOMPARE(m_standIns.signIn->openedPages.size(), firstShown == FirstShown::signedIn ? 1 : 0);
        restored();
        if (firstShown == FirstShown::restored) {
            QTest::qWait(20);
            QVERIFY(m_standIns.signIn->openedPages.isEmpty());
            model.windowShown();
        }
        QCOMPARE(model.machine().step, step);
        QCOMPARE(model.errorMessage(), shown(message));
        const qsizetype opened = stored == Stored::nothing ? 1 : 0;
        QCOMPARE(m_standIns.signIn->openedPages.size(), opened);
        if (stored == Stored::finishedSetup) { // after the confirmation an unregistered helper is registered
            confirmed();
            QCOMPARE(loginItemCalls(), QStringList{QStringLiteral("register")});
            QCOMPARE(model.helperStatus()->state(), State::starting);
        } else {
            QTest::qWait(50);
            QVERIFY(m_server->requests().isEmpty());
        }
        QCOMPARE(model.errorMessage(), shown(message));
        if (opened)
            model.cancelSignIn();
        else
            model.logOut();
        idle();
        model.windowShown();
        QTest::qWait(20);
        QCOMPARE(m_standIns.signIn->openedPages.size(), opened);
    }

    // While the start-up confirmation waits, a helper check is pending. A 401 opens a new sign-in for the
    // same device with the helper unregistered; any other failure, or another device, needs attention.
    // The answer may take a minute: one that comes after a log-out or a new sign-in is dropped. The check
    // after the grace period restarts a helper that has not come up, once; a newer check replaces it, a
    // reconnect or a log-out cancels it (even while the service is slow to answer the log-out, which would
    // otherwise register the helper again), and a refused log-out leaves it to come. The service is told of a
    // log-out first: what it refuses deletes nothing, and a rejection keeps the device for the new sign-in.
    // A restart stops at the first call the login item refuses.
    void confirmation_data()
    {
        QTest::addColumn<ConfirmationRow>("row");
        const Step connect = Step::connect, connected = Step::connected, attention = Step::needsAttention;
        const QString failed =
            QStringLiteral("Could not confirm this Mac with Tarnwick. Check your connection and try again.");
        using M = Meanwhile;
        QTest::newRow("no answer yet") << ConfirmationRow{M::nothing, 0, connected, true};
        QTest::newRow("a newer check") << ConfirmationRow{M::check, 0, connected, true};
        QTest::newRow("rejected") << ConfirmationRow{M::nothing, 401, connect, false, 1};
        QTest::newRow("server error") << ConfirmationRow{M::nothing, 500, attention, true, 0, failed};
        QTest::newRow("another device") << ConfirmationRow{M::nothing, 200, attention, true, 0, failed};
        QTest::newRow("log-out, then rejected") << ConfirmationRow{M::logOut, 401, connect, false};
        QTest::newRow("sign-in, then failed") << ConfirmationRow{M::signIn, 500, connected, true, 1};
        QTest::newRow("slow log-out") << ConfirmationRow{M::slowLogOut, 204, connect, false};
        QTest::newRow("refused slow log-out") << ConfirmationRow{
            M::slowLogOut, 500, connected, true, 0, QStringLiteral("The server returned an unexpected response.")};
        const QString notRestarted =
            QStringLiteral("The background helper could not start. Reinstall Tarnwick if this continues.");
        QTest::newRow("unregistering refused")
            << ConfirmationRow{M::nothing, 0, attention, false, 0, notRestarted, QStringLiteral("unregister")};
        QTest::newRow("registering refused")
            << ConfirmationRow{M::nothing, 0, attention, true, 0, notRestarted, QStringLiteral("register")};
    }
    void confirmation()
    {
        QFETCH(ConfirmationRow, row);
        // The grace period before the check: long enough that an answer released at once comes first even
        // on a loaded machine, which the "rejected" row needs (a check before it would register again).
        constexpr auto delay = 500ms;
        m_server->holdNext(mePath);
        AppModel &model = start(Stored::finishedSetup, delay);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, patience);
        model.ensureHelperLifecycle(); // an enabled item without a status: nothing to do yet
        QCOMPARE(model.recoveryAction(), HelperRecoveryAction::none);
        QVERIFY(loginItemCalls().isEmpty());
        const Error refusal{QStringLiteral("LoginItem"), 1, QStringLiteral("Refused.")};
        if (!row.refused.isEmpty())
            (row.refused == u"register" ? m_standIns.loginItem->registerFailure
                                        : m_standIns.loginItem->unregisterFailure) = refusal;
        if (row.meanwhile == Meanwhile::check) {
            QTest::qWait(int(delay.count() / 2));
            model.ensureHelperLifecycle();
        } else if (row.meanwhile == Meanwhile::signIn) {
            model.signIn();
        } else if (row.meanwhile == Meanwhile::logOut) {
            m_server->answer(mePath, 204, {});
            model.logOut();
            idle();
        } else if (row.meanwhile == Meanwhile::slowLogOut) {
            m_server->holdNext(mePath);
            model.logOut();
            QTest::qWait(int(delay.count() * 4));
        }
        if (row.answer) {
            const qsizetype finished = m_finished->size();
            m_server->answer(mePath, row.answer, row.answer == 200 ? meJson(QUuid::createUuid()) : QByteArray());
            m_server->releaseHeld();
            QTRY_VERIFY_WITH_TIMEOUT(m_finished->size() > finished, patience);
        }
        const QStringList restart{QStringLiteral("unregister"), QStringLiteral("register")};
        const QStringList calls = row.restarted ? restart : restart.mid(0, 1);
        QTRY_COMPARE_WITH_TIMEOUT(loginItemCalls(), calls, patience); // on a loaded machine the check may come late
        QTest::qWait(int(delay.count() * 2));                         // and nothing comes after it
        QCOMPARE(loginItemCalls(), calls);
        QCOMPARE(model.machine().step, row.step);
        QCOMPARE(model.errorMessage(), shown(row.message));
        const QList<QUrl> &opened = m_standIns.signIn->openedPages;
        QCOMPARE(opened.size(), row.opened);
        if (row.opened && row.meanwhile == Meanwhile::nothing)
            QCOMPARE(queryValue(opened.first(), QStringLiteral("existingDeviceId")), upper(device));
        const bool loggedOut = row.step == Step::connect && row.meanwhile != Meanwhile::nothing;
        QCOMPARE(m_standIns.credential->credential.has_value(), !loggedOut);
        QCOMPARE(m_standIns.config->config.has_value(), !loggedOut);
    }

    // Each reading judges the helper: one that is not alive at step connected needs attention, and only a
    // fresh connected status brings the step back, unless a recovery action is pending. That action is
    // decided at once, without the grace period. The ready line is drawn from the same reading.
    void statusReading_data()
    {
        QTest::addColumn<StatusRow>("row");
        using L = LoginItemState;
        using A = HelperRecoveryAction;
        const Step connected = Step::connected, attention = Step::needsAttention;
        QTest::newRow("starting, 45 s") << StatusRow{connected, State::starting, 45, connected, Ready::GettingReady};
        QTest::newRow("starting, 46 s") << StatusRow{connected, State::starting, 46, attention, Ready::CouldNotStart};
        QTest::newRow("connected, from the future")
            << StatusRow{connected, State::connected, -600, connected, Ready::ReadyForCalls};
        QTest::newRow("connected, no heartbeat")
            << StatusRow{connected, State::connected, std::nullopt, attention, Ready::CouldNotStart};
        QTest::newRow("stopped") << StatusRow{connected, State::stopped, 0, attention, Ready::CouldNotStart};
        QTest::newRow("needs attention, starting")
            << StatusRow{attention, State::starting, 0, attention, Ready::CouldNotStart};
        QTest::newRow("needs attention, connected 45 s")
            << StatusRow{attention, State::connected, 45, connected, Ready::ReadyForCalls};
        // A fresh connected helper while a recovery action is pending.
        const auto pending = [&](L item, A action, const QString &message) {
            return StatusRow{attention, State::connected, 0, attention, Ready::ReadyForCalls, item, action, message};
        };
        QTest::newRow("switched off at login")
            << pending(L::requiresApproval, A::enableInSystemSettings,
                       QStringLiteral("Enable Tarnwick in Login Items so it can run after login."));
        QTest::newRow("helper missing") << pending(
            L::notFound, A::reinstall, QStringLiteral("The background helper is missing. Reinstall Tarnwick."));
        QTest::newRow("registration refused")
            << pending(L::notRegistered, A::registerHelper,
                       QStringLiteral("The background helper could not start. Reinstall Tarnwick if this continues."));
    }
    void statusReading()
    {
        QFETCH(StatusRow, row);
        AppModel &model = start(Stored::finishedSetup, 1h);
        confirmed();
        const auto ready = [&model] { return model.property("readyStatus").value<Ready>(); };
        QCOMPARE(ready(), Ready::CheckingConnection);
        m_standIns.network->report(true);
        QTRY_COMPARE(model.networkAvailable(), std::optional(true));
        if (row.item != LoginItemState::enabled) {
            m_standIns.loginItem->currentState = row.item;
            m_standIns.loginItem->registerFailure = Error{QStringLiteral("LoginItem"), 1, QStringLiteral("no")};
            model.ensureHelperLifecycle();
        } else if (row.before == Step::needsAttention) {
            QVERIFY(m_standIns.writeStatus(State::stopped));
            model.readStatus();
        }
        QCOMPARE(model.machine().step, row.before);
        QVERIFY(m_standIns.writeStatus(row.state, row.age));
        model.readStatus();
        QCOMPARE(model.machine().step, row.step);
        QCOMPARE(model.errorMessage(), shown(row.step == Step::needsAttention ? row.message : QString()));
        QCOMPARE(model.recoveryAction(), row.action);
        QCOMPARE(ready(), row.ready);
    }

    // Finishing writes the configuration and registers the helper; each refusal, in the order checked,
    // needs attention with its message and goes no further. Continuing from the agents is refused the same
    // way, the step checked before the agent.
    void finishSetup_data()
    {
        QTest::addColumn<FinishRow>("row");
        const QString notYet = QStringLiteral("That setup step is not available yet.");
        const QStringList one{QStringLiteral("/srv/a")}, none;
        QTest::newRow("finished") << FinishRow{
            Stored::credential, true, true, {QStringLiteral("/srv/b"), QStringLiteral("/srv/a")}, {}, {}};
        QTest::newRow("no device before anything else") << FinishRow{Stored::nothing, false, true, none, {}, notYet};
        QTest::newRow("no agent before the folders") << FinishRow{
            Stored::credential, false, true, none, {}, QStringLiteral("Verify Codex or Claude Code to continue.")};
        QTest::newRow("no folder") << FinishRow{
            Stored::credential, true, true, none, {}, QStringLiteral("Choose at least one permitted folder.")};
        QTest::newRow("not at the folder step, checked first")
            << FinishRow{Stored::credential, true, false, none, {}, notYet};
        QTest::newRow("configuration refused")
            << FinishRow{Stored::credential, true, true, one, QStringLiteral("config"), QStringLiteral("Disk full.")};
        QTest::newRow("registration refused, configuration kept")
            << FinishRow{Stored::credential, true, true, one, QStringLiteral("login item"), QStringLiteral("Refused.")};
    }
    void finishSetup()
    {
        QFETCH(FinishRow, row);
        *m_standIns.discovered = row.agent ? codexOnly : ProviderReadiness{};
        AppModel &model = start(row.stored);
        m_standIns.loginItem->currentState = LoginItemState::notRegistered;
        if (row.stored == Stored::credential)
            QTRY_VERIFY_WITH_TIMEOUT(model.providerReadiness() && !model.busy(), patience);
        if (row.atFolders) {
            model.continueFromProviders();
            QCOMPARE(model.errorMessage(), shown(row.agent ? QString() : row.message));
        }
        if (!row.folders.isEmpty()) {
            m_standIns.chooser->answer = QList<QUrl>();
            for (const QString &folder : row.folders)
                m_standIns.chooser->answer->append(QUrl::fromLocalFile(folder));
            model.chooseFolders();
            QTRY_COMPARE(model.selectedFolders().size(), row.folders.size());
        }
        if (row.fault == QLatin1String("config"))
            m_standIns.config->failure = Error{QStringLiteral("POSIX"), 28, row.message};
        if (row.fault == QLatin1String("login item"))
            m_standIns.loginItem->registerFailure = Error{QStringLiteral("LoginItem"), 1, row.message};
        model.finishSetup();
        const bool saved = row.message.isEmpty() || row.fault == QLatin1String("login item");
        QCOMPARE(model.machine().step, row.message.isEmpty() ? Step::connected : Step::needsAttention);
        QCOMPARE(model.errorMessage(), shown(row.message));
        QCOMPARE(loginItemCalls(), saved ? QStringList{QStringLiteral("register")} : QStringList());
        const AppConfig written{m_server->url().toString(), device,         QStringLiteral("0.3.0"), row.folders,
                                row.folders.value(0),       codexOnly.paths};
        QCOMPARE(m_standIns.config->config, saved ? std::optional(written) : std::nullopt);
    }

    // The browser sign-in: a new device goes on to the agent check, a device whose earlier setup is
    // complete resumes it; with no browser to take the page the sign-in keeps waiting with its link
    // offered, for the user to open elsewhere. Whatever else comes back leaves the computer unpaired, with the cause
    // shown unless the user cancelled.
    void signIn_data()
    {
        QTest::addColumn<SignInRow>("row");
        const Step connect = Step::connect;
        QTest::newRow("earlier setup resumed")
            << SignInRow{Stored::configuration, QStringLiteral("callback"), Step::connected, {}};
        QTest::newRow("new device, no browser took the page")
            << SignInRow{Stored::nothing, QStringLiteral("no browser"), Step::providers, {}};
        QTest::newRow("user cancels") << SignInRow{Stored::nothing, QStringLiteral("cancel"), connect, {}};
        QTest::newRow("not our callback")
            << SignInRow{Stored::nothing, QStringLiteral("tarnwick://evil/callback?state=%1"), connect,
                         QStringLiteral("The browser returned an invalid connection link.")};
        QTest::newRow("code refused") << SignInRow{Stored::nothing, QStringLiteral("code refused"), connect,
                                                   QStringLiteral("The code has expired.")};
    }
    void signIn()
    {
        QFETCH(SignInRow, row);
        const QString credential = credentialFor(device);
        if (row.browser == QLatin1String("code refused"))
            m_server->answer(QStringLiteral("/api/devices/exchange"), 400, R"({"error":"The code has expired."})");
        else
            m_server->answer(QStringLiteral("/api/devices/exchange"), 200,
                             "{\"credential\":\"" + credential.toLatin1() + "\",\"device\":" + deviceJson(device)
                                 + '}');
        AppModel &model = start(row.stored);
        ScriptedSignIn &browser = *m_standIns.signIn;
        model.signIn();
        QVERIFY(model.busy());
        if (row.browser == QLatin1String("no browser")) {
            browser.failBrowser(
                Error{QStringLiteral("UrlLauncher"), 1, QStringLiteral("xdg-open exited with status 3")});
            QTRY_VERIFY(model.browserUnavailable());
            QVERIFY(model.busy() && model.signInOpen() && !model.errorMessage());
        }
        const QUrl page = browser.openedPages.last();
        QCOMPARE(model.signInLink(), page.toString(QUrl::FullyEncoded));
        QCOMPARE(queryValue(page, QStringLiteral("existingDeviceId")),
                 row.stored == Stored::configuration ? upper(device) : QString());
        if (row.browser == QLatin1String("cancel"))
            model.cancelSignIn();
        else if (row.browser.startsWith(QLatin1String("tarnwick:")))
            callBack(row.browser);
        else
            callBack();
        const bool paired = row.step != Step::connect;
        QTRY_VERIFY_WITH_TIMEOUT(paired ? model.machine().step == row.step : !model.busy() && m_finished->size() == 1,
                                 patience);
        QCOMPARE(model.machine().step, row.step);
        QCOMPARE(model.errorMessage(), shown(row.message));
        QCOMPARE(m_standIns.credential->credential, paired ? std::optional(credential) : std::nullopt);
        if (!paired)
            return;
        QCOMPARE(model.deviceId(), device);
        QVERIFY(!model.browserUnavailable() && model.signInLink().isEmpty());
        if (row.step == Step::providers) {
            QTRY_COMPARE_WITH_TIMEOUT(model.providerReadiness(), codexOnly, patience);
            return;
        }
        AppConfig expected = finishedConfig();
        expected.apiUrl = m_server->url().toString();
        expected.appVersion = QStringLiteral("0.3.0");
        QCOMPARE(m_standIns.config->config, expected);
        QCOMPARE(loginItemCalls().first(), QStringLiteral("register"));
    }

    // What cannot be read at the status file's place (a pipe would block) is refused at once and the last
    // status stands; a file that holds no status reads as none. Read every few seconds, a fault that stays
    // is reported once.
    void unreadableStatus()
    {
        AppModel &model = start(Stored::finishedSetup);
        QVERIFY(m_standIns.writeStatus(State::connected));
        model.readStatus();
        const std::optional<HelperStatus> before = model.helperStatus();
        const QRegularExpression warning(QStringLiteral("^The helper's status could not be read: "));
        QTest::failOnWarning(warning);
        for (const bool pipe : {true, false}) {
            QVERIFY(QFile::remove(AppPaths::status()));
            if (pipe)
                QCOMPARE(::mkfifo(QFile::encodeName(AppPaths::status()).constData(), 0600), 0);
            else
                QVERIFY(TestFiles::write(AppPaths::status(), "{ not json"));
            QTest::ignoreMessage(QtWarningMsg, warning);
            for (int reading = 0; reading < 3; ++reading)
                model.readStatus();
            QCOMPARE(model.helperStatus(), pipe ? before : std::nullopt);
        }
        QCOMPARE(model.machine().step, Step::connected);
    }

    // A cancelled change writes the folders again unchanged, a choice replaces them.
    void changeFolders()
    {
        AppModel &model = start(Stored::finishedSetup);
        model.changeFolders();
        QVERIFY(model.choosingFolders());
        QTRY_COMPARE_WITH_TIMEOUT(m_standIns.config->saves, 1, patience);
        QVERIFY(!model.choosingFolders());
        QCOMPARE(m_standIns.config->config, finishedConfig());
        m_standIns.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/new"))};
        model.changeFolders();
        QTRY_COMPARE_WITH_TIMEOUT(m_standIns.config->saves, 2, patience);
        AppConfig expected = finishedConfig();
        expected.allowedRoots = {expected.defaultDirectory = QStringLiteral("/srv/new")};
        QCOMPARE(m_standIns.config->config, expected);
        QCOMPARE(model.machine().step, Step::connected);
    }

    // Without a stored credential there is no service to tell: the log-out forgets the rest at once.
    void logOutWithoutCredential()
    {
        AppModel &model = start(Stored::configuration);
        model.logOut();
        idle();
        QVERIFY(m_server->requests().isEmpty() && !model.errorMessage() && !m_standIns.config->config);
        QCOMPARE(loginItemCalls(), QStringList{QStringLiteral("unregister")});
        QCOMPARE(model.machine().step, Step::connect);
    }
};

QTEST_GUILESS_MAIN(TestAppModel)
#include "tst_appmodel.moc"
