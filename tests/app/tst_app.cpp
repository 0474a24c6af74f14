// The setup window over the model with in-process stand-ins: what each screen shows; the stored setup read
// from a slow keyring; the real program's window closed and shown again.

#include "AppStandIns.h"
#include "ScriptedServer.h"
#include "SetupFixtures.h"
#include "SlowSecretService.h"
#include "StallMeter.h"
#include "TestFiles.h"

#include "config/AppPaths.h"
#include "credentials/SystemCredentialStore.h"
#include "model/AppModel.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <optional>

#include <xcb/xcb.h>

using State = HelperStatus::State;
using namespace SetupFixtures;

namespace {

// The desktop as the window sees it, recording instead of opening anything.
class RecordingDesktop final : public DesktopActions
{
public:
    using DesktopActions::DesktopActions;
    void openDashboard() override { calls.append(QStringLiteral("dashboard")); }
    void openLoginItemsSettings() override { calls.append(QStringLiteral("loginItems")); }
    void copyToClipboard(const QString &text) override { calls.append(QStringLiteral("copy:") + text); }
    QStringList calls;
};
// The facts of the ready screen in every situation, and `more`; the items it shows only at times are
// hidden unless `more` names them.
QString readyScreen(const QString &title, const QString &detail, bool tasksEnabled, const QString &more = {})
{
    QString facts = QStringLiteral("readyScreen | statusTitle=%1 | statusDetail=%2 | %3viewAllTasksButton:enabled | "
                                   "logOutButton:enabled | !errorLine")
                        .arg(title, detail, tasksEnabled ? QString() : QStringLiteral("!"));
    for (const char *sometimes : {"phoneNumber", "offlineSymbol", "enableLoginItemsButton"})
        facts += (more.contains(QLatin1String(sometimes)) ? QStringLiteral(" | ") : QStringLiteral(" | !"))
                 + QLatin1String(sometimes);
    return more.isEmpty() ? facts : facts + QStringLiteral(" | ") + more;
}

// The X server as a window manager sees it: a window's property, the top-level window shown (on the test's
// own server, once its own windows are gone, the program's), and a window manager's close request.
template<typename Reply>
std::unique_ptr<Reply, decltype(&std::free)> owned(Reply *reply)
{
    return {reply, &std::free};
}
xcb_atom_t atom(xcb_connection_t *connection, const QByteArray &name)
{
    const auto reply = owned(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}
QByteArray windowProperty(xcb_connection_t *connection, xcb_window_t window, const QByteArray &name)
{
    const auto reply = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atom(connection, name), XCB_ATOM_ANY, 0, 256), nullptr));
    return reply ? QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                              xcb_get_property_value_length(reply.get()))
                 : QByteArray();
}
std::optional<xcb_window_t> shownWindow(xcb_connection_t *connection)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto tree = owned(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t child = xcb_query_tree_children(tree.get())[i];
        const auto attributes =
            owned(xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, child), nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            return child;
    }
    return std::nullopt;
}
void requestClose(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<ScriptedServer>();
        QVERIFY(m_server->port());
        m_server->answer(mePath, 200, meJson(device));
        QFile::remove(AppPaths::status());
    }
    void cleanup() { m_window.reset(), m_model.reset(), m_server.reset(), m_desktop.calls.clear(); }

    // What each screen shows, as facts about the items by their object names, separated by " | ": "name"
    // shown, "!name" hidden, "[!]name:property" a true (false) property of the shown item, "name=text" its
    // text (empty when hidden), "name>call" what clicking it asks of the desktop. The row names where the
    // model stands (see showWindow()); {page} is the page the browser was given.
    void screen_data()
    {
        QTest::addColumn<QString>("facts");
        QTest::newRow("connect-signing-in") << QStringLiteral(
            "openingSignIn | !signInButton | cancelSignInButton | copyLinkButton | !browserUnavailable");
        QTest::newRow("connect-no-browser") << QStringLiteral(
            "!openingSignIn | !signInButton | cancelSignInButton | browserUnavailableTitle=Couldn’t open a browser | "
            "copyLinkButton>copy:{page} | !errorLine");
        QTest::newRow("providers-ready") << QStringLiteral(
            "providersScreen | !checkingTools | codexLabel=Codex | claudeCodeLabel=Claude Code unavailable | "
            "errorLine= | continueButton:enabled | checkAgainButton:enabled");
        QTest::newRow("providers-missing")
            << QStringLiteral("codexLabel=Codex unavailable | !continueButton:enabled | checkAgainButton:enabled | "
                              "errorLine=Verify Codex or Claude Code to continue.");
        QTest::newRow("folders-empty") << QStringLiteral(
            "foldersScreen | !finishSetupButton:enabled | chooseFoldersButton | !folderBox");
        QTest::newRow("folders-one") << QStringLiteral(
            "finishSetupButton:enabled | !chooseFoldersButton | folderBoxHeader=SELECTED FOLDER");
        QTest::newRow("ready-offline") << readyScreen(QStringLiteral("Offline"),
                                                      QStringLiteral("Connect to the internet to take calls."), false,
                                                      QStringLiteral("offlineSymbol"));
        QTest::newRow("ready-for-calls") << readyScreen(
            QStringLiteral("Ready for calls"), QString(), true,
            QStringLiteral("phoneNumber=+1 (555) 010-0199 | folderSummary=Folders: work, site | "
                           "viewAllTasksButton>dashboard"));
        QTest::newRow("ready-checking-connection") << readyScreen(
            QStringLiteral("Checking connection…"), QStringLiteral("Checking whether this Mac can take calls."), true);
        QTest::newRow("ready-getting-ready")
            << readyScreen(QStringLiteral("Getting ready…"), QStringLiteral("Available in a moment."), true);
        QTest::newRow("ready-could-not-start")
            << readyScreen(QStringLiteral("Couldn't start"), QStringLiteral("Quit and reopen Tarnwick."), true);
        // The model's message is not shown on the ready screen.
        QTest::newRow("ready-needs-approval")
            << readyScreen(QStringLiteral("Ready for calls"), QString(), true,
                           QStringLiteral("phoneNumber | enableLoginItemsButton>loginItems"));
    }
    void screen()
    {
        QFETCH(QString, facts);
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        showWindow(row);
        QCOMPARE(window()->title(), QStringLiteral("Tarnwick"));
        facts.replace(QStringLiteral("{page}"), m_standIns.signIn->openedPages.value(0).toString(QUrl::FullyEncoded));
        for (const QString &fact : facts.split(QStringLiteral(" | "))) {
            const auto [actual, expected] = observe(fact);
            QVERIFY2(actual == expected, qPrintable(fact + QStringLiteral(": ") + actual));
        }
        const QImage picture = window()->grabWindow();
        QCOMPARE(picture.width(), int(440 * window()->devicePixelRatio()));
        // Kept for docs/screens with TARNWICK_SCREENSHOT_DIR=$PWD/docs/screens ctest --preset debug -R tst_app
        if (const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR"); !folder.isEmpty())
            QVERIFY(picture.save(folder + u'/' + row + QStringLiteral(".png")));
    }

    // The keyring may hold its answer as long as an unlock prompt stays open: meanwhile the event loop goes
    // on turning, and a sign-in the user starts is not undone by the late answer, a failure.
    void slowKeyringNeverFreezesTheWindow()
    {
        const SlowSecretService keyring(std::chrono::seconds(3));
        AppModelParts parts = m_standIns.parts(m_server->url());
        parts.credentialStore = std::make_unique<SystemCredentialStore>(std::nullopt);
        m_standIns.credential = nullptr;
        m_model = std::make_unique<AppModel>(std::move(parts));
        QSignalSpy restored(m_model.get(), &AppModel::restoringChanged);
        const StallMeter meter;
        m_model->signIn();
        QVERIFY(m_model->restoring() && restored.wait(30000));

        QVERIFY(keyring.callsAnswered() > 0); // the store asked this service, not the test session's keyring
        QCOMPARE_LT(meter.longestStallMs(), 100);
        QCOMPARE(m_model->machine().step, OnboardingStep::connect);
        QVERIFY(m_model->busy() && m_standIns.signIn->isOpen() && !m_model->errorMessage());
        QCOMPARE(m_standIns.signIn->openedPages.size(), 1);
    }
    // The real program: closing its window leaves it running with what it was doing (the sign-in it opened
    // by itself, not opened again), and a second start shows the window again, carrying that launch's
    // startup id, by which an X11 window manager lets it come up.
    void secondStartShowsTheClosedWindowAgain()
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11)
            QSKIP("not an X11 session");
        xcb_connection_t *connection = x11->connection();
        const QTemporaryDir folder;
        // The browser notes each page it is given.
        const QString browser = folder.filePath(QStringLiteral("browser"));
        QVERIFY(TestFiles::writeScript(browser, "echo \"$1\" >> \"$0.log\""));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("BROWSER"), browser);
        environment.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
        QProcess running;
        running.setProcessEnvironment(environment);
        running.start(QStringLiteral(TARNWICK_APP_PATH));
        const auto window = [connection] { return shownWindow(connection); };
        QTRY_VERIFY_WITH_TIMEOUT(window() && QFile::exists(browser + QStringLiteral(".log")), 30000);

        requestClose(connection, *window());
        QTRY_VERIFY(!window());
        QProcess second;
        environment.insert(QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("launcher-4711_TIME123456"));
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(TARNWICK_APP_PATH));
        QVERIFY(second.waitForFinished(30000) && second.exitCode() == 0);
        QTRY_VERIFY_WITH_TIMEOUT(window(), 10000);
        QTRY_COMPARE(windowProperty(connection, *window(), "_NET_STARTUP_ID"), "launcher-4711_TIME123456");
        QCOMPARE(running.state(), QProcess::Running);
        QCOMPARE(TestFiles::read(browser + QStringLiteral(".log")).count('\n'), 1);
        running.terminate();
        QVERIFY(running.waitForFinished(10000));
    }

private:
    // The window shown over a model where `row` says: signing in ("connect-…", the window opens the sign-in
    // when shown), paired at the providers or folders step, or set up ("ready-…").
    void showWindow(const QString &row)
    {
        const bool signingIn = row.startsWith(u"connect"), setUp = row.startsWith(u"ready");
        const ProviderReadiness nothing{
            {}, false, false, {QStringLiteral("Install Codex or Claude Code, then check again.")}};
        // The stand-ins and the service scripted on loopback, the second helper check ten times sooner.
        AppModelParts parts = m_standIns.parts(m_server->url());
        parts.recoveryDelay = std::chrono::milliseconds(300);
        m_standIns.clock->current = QDateTime::currentDateTimeUtc();
        *m_standIns.discovered = row == u"providers-missing" ? nothing : codexOnly;
        m_standIns.store(setUp ? Stored::finishedSetup : signingIn ? Stored::nothing : Stored::credential);
        m_model = std::make_unique<AppModel>(std::move(parts));
        QSignalSpy finished(m_model.get(), &AppModel::operationFinished);
        if (setUp) {
            // The start-up confirmation and the helper check first, then status and network as the row says.
            QVERIFY(m_standIns.writeStatus(State::connected));
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
            QCOMPARE(m_model->machine().step, OnboardingStep::connected);
            QVERIFY(m_standIns.writeStatus(row == u"ready-getting-ready"     ? State::starting
                                           : row == u"ready-could-not-start" ? State::stopped
                                                                             : State::connected));
            if (row != u"ready-checking-connection")
                m_standIns.network->report(row != u"ready-offline");
            if (row == u"ready-needs-approval") {
                m_standIns.loginItem->currentState = LoginItemState::requiresApproval;
                m_model->ensureHelperLifecycle();
            }
            m_model->readStatus();
        } else if (!signingIn) {
            QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness().has_value(), 10000);
            if (row != u"providers-ready")
                m_model->continueFromProviders();
            m_standIns.chooser->answer =
                QList<QUrl>{QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Projects/tarnwick"))};
            if (row == u"folders-one")
                m_model->chooseFolders();
            QTRY_COMPARE(m_model->selectedFolders().size(), row == u"folders-one" ? 1 : 0);
        }
        m_window = std::make_unique<WindowLoader>(*m_model, m_desktop, QStringLiteral(LOGO_MARK_PATH));
        QVERIFY(window());
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        if (signingIn)
            QTRY_VERIFY(m_standIns.signIn->isOpen());
        if (row == u"connect-no-browser") {
            m_standIns.signIn->failBrowser(Error{QStringLiteral("UrlLauncher"), 1, QStringLiteral("No browser")});
            QTRY_VERIFY(m_model->browserUnavailable());
        }
    }
    // What the window shows for a fact of screen(), and what the fact expects.
    std::pair<QString, QString> observe(const QString &fact)
    {
        static const QRegularExpression syntax(QStringLiteral("^(!?)(\\w+)(?::(\\w+))?(?:([=>])(.*))?$"));
        const QRegularExpressionMatch part = syntax.match(fact);
        QQuickItem *shown = item(part.captured(2));
        if (part.captured(4) == QLatin1String(">")) {
            click(part.captured(2));
            return {std::exchange(m_desktop.calls, {}).join(u','), part.captured(5)};
        }
        if (part.captured(4) == QLatin1String("="))
            return {shown ? shown->property("text").toString() : QString(), part.captured(5)};
        const QVariant actual = !part.hasCaptured(3) ? QVariant(bool(shown))
                                : shown              ? shown->property(qPrintable(part.captured(3)))
                                                     : QVariant(QStringLiteral("hidden"));
        return {actual.toString(), QVariant(part.captured(1).isEmpty()).toString()};
    }
    QQuickWindow *window() const { return m_window ? m_window->window() : nullptr; }
    // The shown item of that name: a screen holds hidden ones under the same name.
    QQuickItem *item(const QString &objectName) const
    {
        const QList<QQuickItem *> named = window()->findChildren<QQuickItem *>(objectName);
        const auto shown = std::ranges::find_if(named, &QQuickItem::isVisible);
        return shown == named.end() ? nullptr : *shown;
    }
    // Clicks the middle of the visible item as the user would.
    void click(const QString &objectName) const
    {
        QQuickItem *target = item(objectName);
        QVERIFY2(target, qPrintable(objectName));
        const auto centre = [target] { return target->mapToScene(QPointF(target->width() / 2, target->height() / 2)); };
        // Controls that have just appeared are laid out at the next frame.
        QPointF previous(-1, -1);
        QTRY_VERIFY(std::exchange(previous, centre()) == centre() && window()->contentItem()->contains(previous));
        QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre().toPoint());
    }

    std::unique_ptr<ScriptedServer> m_server;
    AppStandIns m_standIns;
    std::unique_ptr<AppModel> m_model;
    RecordingDesktop m_desktop{QUrl(QStringLiteral("http://127.0.0.1/"))};
    std::unique_ptr<WindowLoader> m_window;
};

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestApp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_app.moc"
