// The setup application's model over in-process stand-ins, the service scripted on loopback.

#include "AppStandIns.h"
#include "ScriptedServer.h"
#include "SetupFixtures.h"

#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <sys/stat.h>

using namespace std::chrono_literals;
using State = HelperStatus::State;
using namespace SetupFixtures;

namespace {

const QString confirmationFailed =
    QStringLiteral("Could not confirm this Mac with Tarnwick. Check your connection and try again.");
constexpr int patience = 10000;

QString queryValue(const QUrl &url, const QString &name)
{
    return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded);
}

enum class Move { none, logOut, signIn };

} // namespace

Q_DECLARE_METATYPE(Stored)
Q_DECLARE_METATYPE(Move)

class TestAppModel : public QObject
{
    Q_OBJECT

private:
    // A model over the stand-ins with what `stored` says already in the stores; the service answers the
    // confirmation with this device unless the test scripted otherwise.
    AppModel &start(Stored stored, std::chrono::milliseconds recoveryDelay = 3s)
    {
        create(stored, recoveryDelay);
        restored(*m_model);
        return *m_model;
    }
    // The same, without waiting for the stored credential to be read.
    AppModel &create(Stored stored, std::chrono::milliseconds recoveryDelay = 3s)
    {
        AppModelParts parts = m_standIns.parts(m_server->url());
        parts.statusInterval = 1h; // statuses are read when a test asks
        parts.recoveryDelay = recoveryDelay;
        m_standIns.store(stored);
        m_model = std::make_unique<AppModel>(std::move(parts));
        m_finished = std::make_unique<QSignalSpy>(m_model.get(), &AppModel::operationFinished);
        return *m_model;
    }
    void writeStatus(State state, std::optional<qint64> age = 0)
    {
        const auto heartbeat = age ? std::optional(m_standIns.clock->now().addSecs(-*age)) : std::nullopt;
        QVERIFY(StatusStore(AppPaths::status()).save(HelperStatus(state, heartbeat)));
    }
    // The stored credential is read off the main thread.
    static void restored(const AppModel &model)
    {
        QVERIFY(QTest::qWaitFor([&model] { return !model.restoring(); }, patience));
    }
    // The service hands out a credential for `device` for any code.
    QString scriptExchange()
    {
        const QString credential = credentialFor(device);
        m_server->answer(QStringLiteral("/api/devices/exchange"), 200,
                         QStringLiteral(R"({"credential":"%1","device":%2})")
                             .arg(credential, QString::fromUtf8(deviceJson(device)))
                             .toUtf8());
        return credential;
    }
    // The browser comes back to `callback`, its %1 the state of the last page opened and %2 a code.
    void callBack(const QString &callback = QStringLiteral("tarnwick://auth/callback?state=%1&code=%2"))
    {
        const QString state = queryValue(m_standIns.signIn->openedPages.last(), QStringLiteral("state"));
        m_standIns.signIn->finish(QUrl(
            QString(callback).replace(QStringLiteral("%1"), state).replace(QStringLiteral("%2"), QString(43, u'c'))));
    }
    // Waits for the start-up confirmation to be answered.
    void confirmed() { QTRY_VERIFY_WITH_TIMEOUT(!m_finished->isEmpty(), patience); }

    std::unique_ptr<ScriptedServer> m_server;
    AppStandIns m_standIns;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<QSignalSpy> m_finished;

private Q_SLOTS:
    void init()
    {
        m_standIns = AppStandIns();
        m_server = std::make_unique<ScriptedServer>();
        QVERIFY(m_server->port());
        m_server->answer(mePath, 200, meJson(device));
        *m_standIns.discovered = codexOnly;
        QFile::remove(AppPaths::status());
    }
    void cleanup() { m_finished.reset(), m_model.reset(), m_server.reset(); }

    // What the stores hold decides the first step; what cannot be read as a setup needs attention, and
    // the service is asked only about a stored credential.
    void startUp_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<OnboardingStep>("step");
        QTest::addColumn<QString>("message");
        const auto attention = OnboardingStep::needsAttention;
        QTest::newRow("first launch") << Stored::nothing << OnboardingStep::connect << QString();
        QTest::newRow("paired, setup unfinished") << Stored::credential << OnboardingStep::providers << QString();
        QTest::newRow("finished setup") << Stored::finishedSetup << OnboardingStep::connected << QString();
        QTest::newRow("configuration unreadable")
            << Stored::unreadableConfiguration << attention << QStringLiteral("The data couldn’t be read.");
        QTest::newRow("credential names no device") << Stored::credentialWithoutDevice << attention
                                                    << QStringLiteral("The saved device credential is invalid.");
    }
    void startUp()
    {
        QFETCH(Stored, stored);
        QFETCH(OnboardingStep, step);
        QFETCH(QString, message);
        AppModel &model = start(stored);
        m_standIns.loginItem->currentState = LoginItemState::notRegistered;
        QCOMPARE(model.machine().step, step);
        QCOMPARE(model.errorMessage(), message.isEmpty() ? std::nullopt : std::optional(message));
        if (stored != Stored::credential && stored != Stored::finishedSetup) {
            QVERIFY(m_standIns.signIn->openedPages.isEmpty()); // the window opens the first sign-in
            QTest::qWait(50);
            QVERIFY(m_server->requests().isEmpty());
            return;
        }
        confirmed();
        if (stored == Stored::credential) {
            QTRY_COMPARE_WITH_TIMEOUT(model.providerReadiness(), codexOnly, patience);
            QCOMPARE(int(*m_standIns.discoveries), 1);
        } else {
            // After the confirmation an unregistered helper is registered.
            QCOMPARE(m_standIns.loginItem->calls, QStringList{QStringLiteral("register")});
            QCOMPARE(model.helperStatus()->state(), State::starting);
        }
        QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    }

    // The first showing of the window opens the sign-in by itself once the stored setup has been read,
    // unless one is open already; nothing else ever does.
    void firstSignIn_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<QString>("then"); // what happens before the window is shown again
        QTest::addColumn<int>("opened");
        QTest::newRow("first launch, shown again") << Stored::nothing << QString() << 1;
        QTest::newRow("the user signed in first") << Stored::nothing << QStringLiteral("sign in") << 1;
        QTest::newRow("paired") << Stored::credential << QString() << 0;
        QTest::newRow("logged out, shown again") << Stored::finishedSetup << QStringLiteral("log out") << 0;
    }
    void firstSignIn()
    {
        QFETCH(Stored, stored);
        QFETCH(QString, then);
        QFETCH(int, opened);
        AppModel &model = create(stored);
        if (then == QLatin1String("sign in"))
            model.signIn();
        model.windowShown();
        QCOMPARE(m_standIns.signIn->openedPages.size(),
                 then == QLatin1String("sign in") ? 1 : 0); // waits for the stored setup
        restored(model);
        QCOMPARE(m_standIns.signIn->openedPages.size(), opened);
        if (then == QLatin1String("log out"))
            model.logOut();
        else
            model.cancelSignIn();
        QTRY_VERIFY_WITH_TIMEOUT(!model.busy(), patience);
        model.windowShown();
        QTest::qWait(20);
        QCOMPARE(m_standIns.signIn->openedPages.size(), opened);
    }

    // The start-up confirmation: a 401 opens a new sign-in for the same device with the helper unregistered;
    // any other failure, or another device, needs attention. The answer may take a minute: one that comes
    // after a log-out or a new sign-in is dropped.
    void confirmation_data()
    {
        QTest::addColumn<Move>("move");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("rejected") << Move::none << 401 << QByteArray(R"({"error":"Unknown credential."})");
        QTest::newRow("server error") << Move::none << 500 << QByteArray();
        QTest::newRow("another device") << Move::none << 200 << meJson(QUuid::createUuid());
        QTest::newRow("log-out, then rejected") << Move::logOut << 401 << QByteArray();
        QTest::newRow("log-out, then confirmed") << Move::logOut << 200 << meJson(device);
        QTest::newRow("sign-in, then rejected") << Move::signIn << 401 << QByteArray();
        QTest::newRow("sign-in, then failed") << Move::signIn << 500 << QByteArray();
    }
    void confirmation()
    {
        QFETCH(Move, move);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_server->holdNext(mePath);
        AppModel &model = start(Stored::finishedSetup);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, patience);
        if (move == Move::logOut) {
            model.logOut();
            QTRY_VERIFY_WITH_TIMEOUT(!model.busy(), patience);
        } else if (move == Move::signIn) {
            model.signIn();
        }
        const OnboardingStep step = model.machine().step;
        const QStringList loginItemCalls = m_standIns.loginItem->calls;
        const qsizetype finished = m_finished->size();
        m_server->answer(mePath, status, body);
        m_server->releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(m_finished->size() > finished, patience);
        QTest::qWait(20);
        if (move != Move::none) {
            QCOMPARE(model.machine().step, step);
            QCOMPARE(m_standIns.signIn->openedPages.size(), move == Move::signIn ? 1 : 0);
            QCOMPARE(m_standIns.loginItem->calls, loginItemCalls);
        } else if (status == 401) {
            QCOMPARE(model.machine().step, OnboardingStep::connect);
            QTRY_COMPARE(m_standIns.signIn->openedPages.size(), 1);
            QCOMPARE(queryValue(m_standIns.signIn->openedPages.first(), QStringLiteral("existingDeviceId")),
                     upper(device));
            QCOMPARE(m_standIns.loginItem->calls, QStringList{QStringLiteral("unregister")});
        } else {
            QCOMPARE(model.machine().step, OnboardingStep::needsAttention);
            QCOMPARE(model.errorMessage(), confirmationFailed);
            QVERIFY(m_standIns.signIn->openedPages.isEmpty());
        }
    }

    // Each reading judges the helper: one that is not alive at step connected needs attention, and only a
    // fresh connected status brings the step back. The ready line is drawn from the same reading.
    void statusReading_data()
    {
        QTest::addColumn<OnboardingStep>("before");
        QTest::addColumn<State>("state");
        QTest::addColumn<std::optional<qint64>>("age");
        QTest::addColumn<OnboardingStep>("step");
        QTest::addColumn<QString>("shown");
        using Age = std::optional<qint64>;
        const auto connected = OnboardingStep::connected;
        const auto attention = OnboardingStep::needsAttention;
        QTest::newRow("starting, 45 s") << connected << State::starting << Age(45) << connected
                                        << QStringLiteral("GettingReady");
        QTest::newRow("starting, 46 s") << connected << State::starting << Age(46) << attention
                                        << QStringLiteral("CouldNotStart");
        QTest::newRow("connected, 45 s") << connected << State::connected << Age(45) << connected
                                         << QStringLiteral("ReadyForCalls");
        QTest::newRow("connected, from the future")
            << connected << State::connected << Age(-600) << connected << QStringLiteral("ReadyForCalls");
        QTest::newRow("connected, no heartbeat")
            << connected << State::connected << Age() << attention << QStringLiteral("CouldNotStart");
        QTest::newRow("stopped") << connected << State::stopped << Age(0) << attention
                                 << QStringLiteral("CouldNotStart");
        QTest::newRow("needs attention, starting")
            << attention << State::starting << Age(0) << attention << QStringLiteral("CouldNotStart");
        QTest::newRow("needs attention, connected 45 s")
            << attention << State::connected << Age(45) << connected << QStringLiteral("ReadyForCalls");
    }
    void statusReading()
    {
        QFETCH(OnboardingStep, before);
        QFETCH(State, state);
        QFETCH(std::optional<qint64>, age);
        QFETCH(OnboardingStep, step);
        QFETCH(QString, shown);
        AppModel &model = start(Stored::finishedSetup);
        QCOMPARE(model.property("readyStatus").toString(), QStringLiteral("CheckingConnection"));
        m_standIns.network->report(true);
        QTRY_VERIFY(model.networkAvailable());
        if (before == OnboardingStep::needsAttention) {
            writeStatus(State::stopped);
            model.readStatus();
        }
        QCOMPARE(model.machine().step, before);
        writeStatus(state, age);
        model.readStatus();
        QCOMPARE(model.machine().step, step);
        const QString couldNotStart = QStringLiteral("The background service couldn't start.");
        QCOMPARE(model.errorMessage(),
                 step == OnboardingStep::needsAttention ? std::optional(couldNotStart) : std::nullopt);
        QCOMPARE(model.property("readyStatus").toString(), shown);
    }

    // After the check right away, one more after the grace period; a newer check, a reconnect or a log-out
    // replaces or cancels the pending one.
    void secondHelperCheck_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("nothing: restarted once")
            << QString() << QStringList{QStringLiteral("unregister"), QStringLiteral("register")};
        QTest::newRow("a newer check") << QStringLiteral("check")
                                       << QStringList{QStringLiteral("unregister"), QStringLiteral("register")};
        QTest::newRow("reconnect") << QStringLiteral("reconnect") << QStringList{QStringLiteral("unregister")};
        QTest::newRow("log-out") << QStringLiteral("log-out") << QStringList{QStringLiteral("unregister")};
    }
    void secondHelperCheck()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, calls);
        constexpr auto delay = 200ms;
        m_server->holdNext(mePath);
        AppModel &model = start(Stored::finishedSetup, delay);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, patience);
        model.ensureHelperLifecycle(); // an enabled item without a status: nothing to do yet
        QCOMPARE(model.recoveryAction(), HelperRecoveryAction::none);
        QVERIFY(m_standIns.loginItem->calls.isEmpty());
        if (meanwhile == QLatin1String("check")) {
            QTest::qWait(int(delay.count() / 2));
            model.ensureHelperLifecycle();
        } else if (meanwhile == QLatin1String("reconnect")) {
            m_server->answer(mePath, 401, {});
            m_server->releaseHeld();
        } else if (meanwhile == QLatin1String("log-out")) {
            m_server->answer(mePath, 204, {});
            model.logOut();
        }
        QTest::qWait(int(delay.count() * 4));
        QCOMPARE(m_standIns.loginItem->calls, calls);
    }

    // Finishing writes the configuration and registers the helper; each refusal, in the order checked,
    // needs attention with its message and goes no further.
    void finishSetup_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<ProviderReadiness>("discovered");
        QTest::addColumn<bool>("atFolders");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("fault");   // "config" or "login item": that part refuses
        QTest::addColumn<QString>("message"); // empty: setup is finished
        const ProviderReadiness none{{}, false, false, {}};
        const QString notYet = QStringLiteral("That setup step is not available yet.");
        const QStringList one{QStringLiteral("/srv/a")};
        QTest::newRow("finished") << Stored::credential << codexOnly << true
                                  << QStringList{QStringLiteral("/srv/b"), QStringLiteral("/srv/a")} << QString()
                                  << QString();
        QTest::newRow("no device before anything else")
            << Stored::nothing << none << false << QStringList() << QString() << notYet;
        QTest::newRow("no agent before the folders")
            << Stored::credential << none << false << QStringList() << QString()
            << QStringLiteral("Verify Codex or Claude Code to continue.");
        QTest::newRow("no folder") << Stored::credential << codexOnly << true << QStringList() << QString()
                                   << QStringLiteral("Choose at least one permitted folder.");
        QTest::newRow("not at the folder step")
            << Stored::credential << codexOnly << false << one << QString() << notYet;
        QTest::newRow("configuration refused") << Stored::credential << codexOnly << true << one
                                               << QStringLiteral("config") << QStringLiteral("Disk full.");
        QTest::newRow("registration refused, configuration kept")
            << Stored::credential << codexOnly << true << one << QStringLiteral("login item")
            << QStringLiteral("Refused by the desktop.");
    }
    void finishSetup()
    {
        QFETCH(Stored, stored);
        QFETCH(ProviderReadiness, discovered);
        QFETCH(bool, atFolders);
        QFETCH(QStringList, folders);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        *m_standIns.discovered = discovered;
        AppModel &model = start(stored);
        m_standIns.loginItem->currentState = LoginItemState::notRegistered;
        if (stored == Stored::credential)
            QTRY_VERIFY_WITH_TIMEOUT(model.providerReadiness() && !model.busy(), patience);
        if (atFolders)
            model.continueFromProviders();
        if (!folders.isEmpty()) {
            m_standIns.chooser->answer = QList<QUrl>();
            for (const QString &folder : folders)
                m_standIns.chooser->answer->append(QUrl::fromLocalFile(folder));
            model.chooseFolders();
            QTRY_COMPARE(model.selectedFolders().size(), folders.size());
        }
        if (fault == QLatin1String("config"))
            m_standIns.config->failure = Error{QStringLiteral("POSIX"), 28, QStringLiteral("Disk full.")};
        if (fault == QLatin1String("login item"))
            m_standIns.loginItem->registerFailure =
                Error{QStringLiteral("LoginItem"), 1, QStringLiteral("Refused by the desktop.")};
        model.finishSetup();
        const bool saved = message.isEmpty() || fault == QLatin1String("login item");
        QCOMPARE(model.machine().step, message.isEmpty() ? OnboardingStep::connected : OnboardingStep::needsAttention);
        QCOMPARE(model.errorMessage(), message.isEmpty() ? std::nullopt : std::optional(message));
        QCOMPARE(m_standIns.loginItem->calls, saved ? QStringList{QStringLiteral("register")} : QStringList());
        const AppConfig written{m_server->url().toString(), device,         QStringLiteral("0.3.0"), folders,
                                folders.value(0),           codexOnly.paths};
        QCOMPARE(m_standIns.config->config, saved ? std::optional(written) : std::nullopt);
    }

    // The browser sign-in: a new device goes on to the agent check, a device whose earlier setup is
    // complete resumes it; with no browser to take the page the sign-in keeps waiting with its link
    // offered (a report about an earlier attempt's browser changes nothing). Whatever else comes back
    // leaves the Mac unpaired, with the cause shown unless the user cancelled.
    void signIn_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<QString>("browser"); // what the browser does, or the callback it hands back
        QTest::addColumn<OnboardingStep>("step");
        QTest::addColumn<QString>("message");
        const auto connect = OnboardingStep::connect;
        QTest::newRow("new device") << Stored::nothing << QStringLiteral("callback") << OnboardingStep::providers
                                    << QString();
        QTest::newRow("earlier setup resumed")
            << Stored::configuration << QStringLiteral("callback") << OnboardingStep::connected << QString();
        QTest::newRow("no browser took the page")
            << Stored::nothing << QStringLiteral("no browser") << OnboardingStep::providers << QString();
        QTest::newRow("user cancels") << Stored::nothing << QStringLiteral("cancel") << connect << QString();
        QTest::newRow("browser cannot open")
            << Stored::nothing << QStringLiteral("cannot open") << connect << QString();
        QTest::newRow("browser error") << Stored::nothing << QStringLiteral("error") << connect
                                       << QStringLiteral("The browser could not be opened.");
        QTest::newRow("not our callback")
            << Stored::nothing << QStringLiteral("tarnwick://evil/callback?state=%1") << connect
            << QStringLiteral("The browser returned an invalid connection link.");
        QTest::newRow("code refused") << Stored::nothing << QStringLiteral("code refused") << connect
                                      << QStringLiteral("The code has expired.");
    }
    void signIn()
    {
        QFETCH(Stored, stored);
        QFETCH(QString, browser);
        QFETCH(OnboardingStep, step);
        QFETCH(QString, message);
        const QString credential = scriptExchange();
        if (browser == QLatin1String("code refused"))
            m_server->answer(QStringLiteral("/api/devices/exchange"), 400, R"({"error":"The code has expired."})");
        AppModel &model = start(stored);
        m_standIns.signIn->canOpen = browser != QLatin1String("cannot open");
        model.signIn();
        QCOMPARE(model.busy(), m_standIns.signIn->canOpen);
        if (browser == QLatin1String("no browser")) {
            const BrowserSignIn::BrowserFailure earlier = m_standIns.signIn->failBrowser;
            model.cancelSignIn();
            QTRY_VERIFY(!model.busy() && model.signInLink().isEmpty());
            model.signIn();
            const Error failed{QStringLiteral("UrlLauncher"), 1,
                               QStringLiteral("No browser could be opened: xdg-open exited with status 3")};
            earlier(failed);
            QTest::qWait(50);
            QVERIFY(!model.browserUnavailable());
            m_standIns.signIn->failBrowser(failed);
            QTRY_VERIFY(model.browserUnavailable());
            QVERIFY(model.busy() && model.signInOpen() && !model.errorMessage());
        }
        if (m_standIns.signIn->canOpen) {
            const QUrl page = m_standIns.signIn->openedPages.last();
            QCOMPARE(model.signInLink(), page.toString(QUrl::FullyEncoded));
            QCOMPARE(page.path(), QStringLiteral("/connect/mac/10"));
            QCOMPARE(queryValue(page, QStringLiteral("deviceName")), QStringLiteral("Studio Mac"));
            QCOMPARE(queryValue(page, QStringLiteral("existingDeviceId")),
                     stored == Stored::configuration ? upper(device) : QString());
            QCOMPARE(m_standIns.signIn->lastScheme, QStringLiteral("tarnwick"));
        }
        if (browser == QLatin1String("cancel"))
            model.cancelSignIn();
        else if (browser == QLatin1String("error"))
            m_standIns.signIn->finish(failure(Error{QStringLiteral("Browser"), 7, message}));
        else if (browser.startsWith(QLatin1String("tarnwick:")))
            callBack(browser);
        else if (browser != QLatin1String("cannot open"))
            callBack();
        const bool paired = step != OnboardingStep::connect;
        QTRY_VERIFY_WITH_TIMEOUT(paired ? model.machine().step == step
                                        : !model.busy() && m_finished->size() == int(m_standIns.signIn->canOpen),
                                 patience);
        QCOMPARE(model.machine().step, step);
        QCOMPARE(model.errorMessage(), message.isEmpty() ? std::nullopt : std::optional(message));
        QCOMPARE(m_standIns.credential->credential, paired ? std::optional(credential) : std::nullopt);
        if (!paired)
            return;
        QCOMPARE(model.deviceId(), device);
        QVERIFY(!model.browserUnavailable() && model.signInLink().isEmpty());
        if (step == OnboardingStep::providers) {
            QTRY_COMPARE_WITH_TIMEOUT(model.providerReadiness(), codexOnly, patience);
            return;
        }
        AppConfig expected = finishedConfig();
        expected.apiUrl = m_server->url().toString();
        expected.appVersion = QStringLiteral("0.3.0");
        QCOMPARE(m_standIns.config->config, expected);
        QCOMPARE(m_standIns.loginItem->calls.first(), QStringLiteral("register"));
        QCOMPARE(int(*m_standIns.discoveries), 0);
    }
    void recoveryActions_data()
    {
        QTest::addColumn<LoginItemState>("state");
        QTest::addColumn<HelperRecoveryAction>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("needs approval") << LoginItemState::requiresApproval
                                        << HelperRecoveryAction::enableInSystemSettings
                                        << QStringLiteral("Enable Tarnwick in Login Items so it can run after login.");
        QTest::newRow("helper missing") << LoginItemState::notFound << HelperRecoveryAction::reinstall
                                        << QStringLiteral("The background helper is missing. Reinstall Tarnwick.");
        QTest::newRow("registration refused")
            << LoginItemState::notRegistered << HelperRecoveryAction::registerHelper
            << QStringLiteral("The background helper could not start. Reinstall Tarnwick if this continues.");
    }
    void recoveryActions()
    {
        QFETCH(LoginItemState, state);
        QFETCH(HelperRecoveryAction, action);
        QFETCH(QString, message);
        AppModel &model = start(Stored::finishedSetup);
        confirmed();
        m_standIns.loginItem->currentState = state;
        m_standIns.loginItem->registerFailure = Error{QStringLiteral("LoginItem"), 1, QStringLiteral("no")};
        model.ensureHelperLifecycle();
        // Decided at once, without the grace period.
        QCOMPARE(model.recoveryAction(), action);
        QCOMPARE(model.machine().step, OnboardingStep::needsAttention);
        QCOMPARE(model.errorMessage(), message);
        // While an action is pending a fresh connected helper does not bring the step back.
        writeStatus(State::connected);
        model.readStatus();
        QCOMPARE(model.machine().step, OnboardingStep::needsAttention);
    }

    // What cannot be read at the status file's place (a pipe would block, a huge file would swamp) is
    // refused at once and the last status stands; a file that holds no status reads as none. Read every
    // few seconds, a fault that stays is reported once.
    void unreadableStatus_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("kept");
        QTest::newRow("a pipe") << QStringLiteral("pipe") << true;
        QTest::newRow("5 MB") << QStringLiteral("huge") << true;
        QTest::newRow("not JSON") << QStringLiteral("text") << false;
    }
    void unreadableStatus()
    {
        QFETCH(QString, planted);
        QFETCH(bool, kept);
        AppModel &model = start(Stored::finishedSetup);
        writeStatus(State::connected);
        model.readStatus();
        const std::optional<HelperStatus> before = model.helperStatus();
        QVERIFY(QFile::remove(AppPaths::status()));
        QFile file(AppPaths::status());
        if (planted == QLatin1String("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(AppPaths::status()).constData(), 0600), 0);
        else
            QVERIFY(file.open(QIODevice::WriteOnly)
                    && (planted == QLatin1String("huge") ? file.resize(5 << 20) : file.write("{ not json") > 0));
        file.close();
        const QRegularExpression warning(QStringLiteral("^The helper's status could not be read: "));
        QTest::ignoreMessage(QtWarningMsg, warning);
        QTest::failOnWarning(warning);
        for (int reading = 0; reading < 3; ++reading)
            model.readStatus();
        QCOMPARE(model.helperStatus(), kept ? before : std::nullopt);
        QCOMPARE(model.machine().step, OnboardingStep::connected);
    }
    // Each folder's name, its path, and the path as shown, with the home folder as "~".
    void folderRows_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        const QString home = QDir::homePath();
        QTest::newRow("in the home folder") << home + QStringLiteral("/Projects/tarnwick") << QStringLiteral("tarnwick")
                                            << QStringLiteral("~/Projects/tarnwick");
        QTest::newRow("the home folder") << home << QFileInfo(home).fileName() << QStringLiteral("~");
        QTest::newRow("beside the home folder")
            << home + QStringLiteral("2/site") << QStringLiteral("site") << home + QStringLiteral("2/site");
        QTest::newRow("the root") << QStringLiteral("/") << QStringLiteral("/") << QStringLiteral("/");
    }
    void folderRows()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, shown);
        FolderListModel rows;
        QSignalSpy reset(&rows, &QAbstractItemModel::modelReset);
        QVERIFY(rows.setFolders({QUrl::fromLocalFile(path)}) && !rows.setFolders({QUrl::fromLocalFile(path)}));
        QCOMPARE(reset.size(), 1); // the same folders again change nothing
        const auto shownAs = [&rows](int role) { return rows.data(rows.index(0), role).toString(); };
        QCOMPARE((QStringList{shownAs(FolderListModel::NameRole), shownAs(FolderListModel::PathRole),
                              shownAs(FolderListModel::DisplayPathRole), rows.summary()}),
                 (QStringList{name, path, shown, QStringLiteral("Folder: ") + name}));
    }
    // One chooser at a time (the window disables its buttons, and the model refuses); a cancelled change
    // writes the folders again unchanged, a choice replaces them.
    void changeFolders()
    {
        AppModel &model = start(Stored::finishedSetup);
        model.changeFolders();
        model.chooseFolders();
        model.changeFolders();
        QVERIFY(model.choosingFolders());
        QTRY_COMPARE_WITH_TIMEOUT(m_standIns.config->saves, 1, patience);
        QVERIFY(!model.choosingFolders());
        QCOMPARE(m_standIns.chooser->calls, 1);
        QCOMPARE(m_standIns.config->config, finishedConfig());
        m_standIns.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/new"))};
        model.changeFolders();
        QTRY_COMPARE_WITH_TIMEOUT(m_standIns.config->saves, 2, patience);
        AppConfig expected = finishedConfig();
        expected.allowedRoots = {expected.defaultDirectory = QStringLiteral("/srv/new")};
        QCOMPARE(m_standIns.config->config, expected);
        QCOMPARE(model.machine().step, OnboardingStep::connected);
    }

    void logOut_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<int>("disconnectStatus");
        QTest::newRow("disconnects, then forgets") << Stored::finishedSetup << 204;
        QTest::newRow("no credential: no request") << Stored::configuration << 0;
        QTest::newRow("service refuses: deletes nothing") << Stored::finishedSetup << 500;
    }
    void logOut()
    {
        QFETCH(Stored, stored);
        QFETCH(int, disconnectStatus);
        AppModel &model = start(stored);
        if (stored == Stored::finishedSetup)
            confirmed();
        m_server->answer(mePath, disconnectStatus, {});
        const qsizetype requestsBefore = m_server->requests().size();
        model.logOut();
        QTRY_VERIFY_WITH_TIMEOUT(!model.busy(), patience);
        const bool failed = disconnectStatus == 500;
        QCOMPARE(m_server->requests().size() - requestsBefore, stored == Stored::configuration ? 0 : 1);
        QCOMPARE(model.errorMessage().has_value(), failed);
        QCOMPARE(m_standIns.credential->credential.has_value(), failed);
        QCOMPARE(m_standIns.config->config.has_value(), failed);
        QCOMPARE(m_standIns.loginItem->calls.contains(QStringLiteral("unregister")), !failed);
        if (failed)
            return;
        QCOMPARE(model.machine().step, OnboardingStep::connect);
        QVERIFY(!model.helperStatus());
        QCOMPARE(model.recoveryAction(), HelperRecoveryAction::none);
        // What the user chose stays for the next sign-in, which offers the same device.
        QCOMPARE(model.selectedFolders().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAppModel)
#include "tst_appmodel.moc"
