// The setup window over the model with in-process stand-ins: what each screen shows and how it is drawn.

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
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QtGui/qguiapplication_platform.h>

#include <optional>

#include <xcb/xcb.h>

using State = HelperStatus::State;
using namespace SetupFixtures;

namespace {

// The model over the in-process stand-ins and the service scripted on loopback, the clock at the
// current time, the second helper check ten times sooner than the program's.
AppModelParts windowParts(const QUrl &baseURL, AppStandIns &standIns, ProviderReadiness discovered)
{
    AppModelParts parts = standIns.parts(baseURL);
    standIns.clock->current = QDateTime::currentDateTimeUtc();
    *standIns.discovered = std::move(discovered);
    parts.recoveryDelay = std::chrono::milliseconds(300);
    return parts;
}
// The desktop as the window sees it, recording instead of opening anything.
class RecordingDesktop final : public DesktopActions
{
public:
    RecordingDesktop()
        : DesktopActions(QUrl(QStringLiteral("http://127.0.0.1/")))
    {
    }
    void openDashboard() override { calls.append(QStringLiteral("dashboard")); }
    void openLoginItemsSettings() override { calls.append(QStringLiteral("loginItems")); }
    void copyToClipboard(const QString &text) override { calls.append(QStringLiteral("copy:") + text); }
    QStringList calls;
};
// Where the model stands when the window is shown: signing in (the window opens the sign-in when
// shown), paired, at the folder step, set up.
enum class Situation {
    firstLaunch,
    browserUnavailable,
    signInError,
    providersReady,
    providersMissing,
    noFolders,
    oneFolder,
    offline,
    readyForCalls,
    needsApproval,
    checkingConnection,
    gettingReady,
    couldNotStart,
};
QQuickItem *findVisible(QQuickItem *root, const QString &objectName)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    QQuickItem *found = nullptr;
    for (QQuickItem *child : root->childItems())
        found = found ? found : findVisible(child, objectName);
    return found;
}
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

// The X server as a window manager sees it: a program's shown window, found by its process id, a
// window's property, and the close request a window manager sends.
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
std::optional<xcb_window_t> shownWindowOf(xcb_connection_t *connection, qint64 pid)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto tree = owned(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    const quint32 owner = quint32(pid);
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t child = xcb_query_tree_children(tree.get())[i];
        const auto attributes =
            owned(xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, child), nullptr));
        if (windowProperty(connection, child, "_NET_WM_PID")
                == QByteArray::fromRawData(reinterpret_cast<const char *>(&owner), sizeof owner)
            && attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
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
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

// The palette's colours, and one composed over another as the window draws it.
const QColor paper = QColor::fromRgbF(0.957f, 0.941f, 0.910f);
const QColor surface = QColor::fromRgbF(0.982f, 0.975f, 0.957f);
const QColor ink = QColor::fromRgbF(0.090f, 0.090f, 0.075f);
QColor over(const QColor &colour, float opacity, const QColor &beneath)
{
    const auto mix = [opacity](float top, float bottom) { return top * opacity + bottom * (1 - opacity); };
    return QColor::fromRgbF(mix(colour.redF(), beneath.redF()), mix(colour.greenF(), beneath.greenF()),
                            mix(colour.blueF(), beneath.blueF()));
}

// Buttons in each state on the paper, hover off (the pointer could be anywhere on the screen).
const QByteArray buttonScene = R"(
import QtQuick
import Tarnwick.Style as Style
Window {
    width: 300; height: 260; visible: true; color: Style.Palette.paper
    Column {
        x: 20; y: 20; spacing: 24
        Style.PrimaryButton { objectName: "disabled"; text: "Continue"; enabled: false; hoverEnabled: false }
        Style.PrimaryButton { objectName: "normal"; text: "Continue"; hoverEnabled: false }
        Style.PrimaryButton { objectName: "pressed"; text: "Continue"; down: true; hoverEnabled: false }
        Style.SecondaryButton { objectName: "secondary"; text: "Check Again"; hoverEnabled: false }
    }
}
)";

} // namespace

Q_DECLARE_METATYPE(Situation)

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
    // text (empty when hidden), "name>call" what clicking it asks of the desktop.
    void screen_data()
    {
        QTest::addColumn<Situation>("situation");
        QTest::addColumn<QString>("facts");
        QTest::newRow("connect-signing-in")
            << Situation::firstLaunch
            << QStringLiteral(
                   "openingSignIn | !signInButton | cancelSignInButton | copyLinkButton | !browserUnavailable");
        QTest::newRow("connect-no-browser") << Situation::browserUnavailable
                                            << QStringLiteral("!openingSignIn | !signInButton | cancelSignInButton | "
                                                              "browserUnavailableTitle=Couldn’t open a browser | "
                                                              "copyLinkButton | !errorLine");
        QTest::newRow("connect-error")
            << Situation::signInError
            << QStringLiteral("connectScreen | errorLine=The connection response did not match this Mac.");
        QTest::newRow("providers-ready") << Situation::providersReady
                                         << QStringLiteral("providersScreen | !checkingTools | codexLabel=Codex | "
                                                           "claudeCodeLabel=Claude Code unavailable | errorLine= | "
                                                           "continueButton:enabled | checkAgainButton:enabled");
        QTest::newRow("providers-missing") << Situation::providersMissing
                                           << QStringLiteral("codexLabel=Codex unavailable | !continueButton:enabled | "
                                                             "errorLine=Verify Codex or Claude Code to continue. | "
                                                             "checkAgainButton:enabled");
        QTest::newRow("folders-empty")
            << Situation::noFolders
            << QStringLiteral("foldersScreen | !finishSetupButton:enabled | chooseFoldersButton | !folderBox");
        QTest::newRow("folders-one") << Situation::oneFolder
                                     << QStringLiteral("finishSetupButton:enabled | !chooseFoldersButton | "
                                                       "folderBoxHeader=SELECTED FOLDER");
        QTest::newRow("ready-offline") << Situation::offline
                                       << readyScreen(QStringLiteral("Offline"),
                                                      QStringLiteral("Connect to the internet to take calls."), false,
                                                      QStringLiteral("offlineSymbol"));
        QTest::newRow("ready-for-calls") << Situation::readyForCalls
                                         << readyScreen(QStringLiteral("Ready for calls"), QString(), true,
                                                        QStringLiteral("phoneNumber=+1 (555) 010-0199 | "
                                                                       "folderSummary=Folders: work, site | "
                                                                       "viewAllTasksButton>dashboard"));
        QTest::newRow("ready-checking-connection")
            << Situation::checkingConnection
            << readyScreen(QStringLiteral("Checking connection…"),
                           QStringLiteral("Checking whether this Mac can take calls."), true);
        QTest::newRow("ready-getting-ready")
            << Situation::gettingReady
            << readyScreen(QStringLiteral("Getting ready…"), QStringLiteral("Available in a moment."), true);
        QTest::newRow("ready-could-not-start")
            << Situation::couldNotStart
            << readyScreen(QStringLiteral("Couldn't start"), QStringLiteral("Quit and reopen Tarnwick."), true);
        // The model's message is not shown on the ready screen.
        QTest::newRow("ready-needs-approval")
            << Situation::needsApproval
            << readyScreen(QStringLiteral("Ready for calls"), QString(), true,
                           QStringLiteral("phoneNumber | enableLoginItemsButton>loginItems"));
    }
    void screen()
    {
        QFETCH(Situation, situation);
        QFETCH(QString, facts);
        showWindow(situation);
        QVERIFY(window()->title() == QStringLiteral("Tarnwick") && window()->minimumWidth() == 440
                && window()->maximumWidth() == 440 && item(QStringLiteral("brandRow")));
        for (const QString &fact : facts.split(QStringLiteral(" | "))) {
            const auto [actual, expected] = observe(fact);
            QVERIFY2(actual == expected, qPrintable(fact + QStringLiteral(": ") + actual));
        }
        if (situation == Situation::browserUnavailable) { // the page the browser was given, nothing else
            QVERIFY(QMetaObject::invokeMethod(item(QStringLiteral("copyLinkButton")), "clicked"));
            QCOMPARE(m_desktop.calls,
                     QStringList{QStringLiteral("copy:")
                                 + m_standIns.signIn->openedPages.last().toString(QUrl::FullyEncoded)});
        }
        const QImage picture = window()->grabWindow();
        QCOMPARE(picture.width(), int(440 * window()->devicePixelRatio()));
        // take-screenshots.sh keeps the pictures for docs/screens.
        if (const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR"); !folder.isEmpty())
            QVERIFY(
                picture.save(folder + u'/' + QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png")));
    }

    // Sampled left of the label (fill) and at the middle of the top edge (border, secondary only): the
    // drawn opacities, and a shadow painted once, not twice over the border.
    void buttonsDrawnFromThePalette_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("border"); // invalid: not sampled
        QTest::newRow("primary, disabled") << QStringLiteral("disabled") << over(ink, 0.32f, paper) << QColor();
        QTest::newRow("primary") << QStringLiteral("normal") << ink << QColor();
        QTest::newRow("primary, pressed") << QStringLiteral("pressed") << over(ink, 0.76f, paper) << QColor();
        QTest::newRow("secondary") << QStringLiteral("secondary") << surface << over(Qt::black, 0.12f, paper);
    }
    void buttonsDrawnFromThePalette()
    {
        QFETCH(QString, button);
        QFETCH(QColor, fill);
        QFETCH(QColor, border);
        WindowLoader::chooseRendering();
        QQmlApplicationEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine.loadData(buttonScene);
        auto *scene = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(scene && QTest::qWaitForWindowExposed(scene));
        auto *shown = scene->findChild<QQuickItem *>(button);
        QVERIFY(shown);
        const QImage picture = scene->grabWindow();
        const QRectF box = shown->mapRectToScene(shown->boundingRect());
        const auto sample = [&](qreal x, qreal y, const QColor &expected) {
            const QColor pixel = picture.pixelColor(QPointF(x, y).toPoint() * scene->devicePixelRatio());
            QVERIFY2(qAbs(pixel.red() - expected.red()) <= 3 && qAbs(pixel.green() - expected.green()) <= 3
                         && qAbs(pixel.blue() - expected.blue()) <= 3,
                     qPrintable(pixel.name() + QStringLiteral(", expected ") + expected.name()));
        };
        sample(box.left() + 9, box.center().y(), fill);
        if (border.isValid())
            sample(box.center().x(), box.top(), border);
    }

    // The keyring may hold its answer as long as an unlock prompt stays open: meanwhile the window goes
    // on drawing, and a sign-in the user starts is not undone by the late answer.
    void slowKeyringNeverFreezesTheWindow()
    {
        const SlowSecretService keyring(std::chrono::seconds(3));
        QVERIFY(keyring.isRegistered());
        AppModelParts parts = windowParts(m_server->url(), m_standIns, codexOnly);
        parts.credentialStore = std::make_unique<SystemCredentialStore>(std::nullopt);
        m_standIns.credential = nullptr;
        m_model = std::make_unique<AppModel>(std::move(parts));
        m_window = std::make_unique<WindowLoader>(*m_model, m_desktop, QStringLiteral(LOGO_MARK_PATH));
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QVERIFY(m_model->restoring() && item(QStringLiteral("restoringSetup"))
                && !item(QStringLiteral("signInButton")));
        QVERIFY(m_standIns.signIn->openedPages.isEmpty()); // the automatic sign-in waits for the stored setup

        m_model->signIn();
        QVERIFY(item(QStringLiteral("openingSignIn")));
        // Software drawing under the sanitizers takes its own time on this thread: the meter watches
        // the event loop alone.
        window()->hide();
        QSignalSpy restored(m_model.get(), &AppModel::restoringChanged);
        const StallMeter meter;
        QVERIFY(m_model->restoring());
        QVERIFY(restored.wait(30000));

        QVERIFY(keyring.callsAnswered() > 0);
        QVERIFY2(meter.longestStallMs() < 100, qPrintable(QStringLiteral("stood still %1 ms from %2 ms on")
                                                              .arg(meter.longestStallMs())
                                                              .arg(meter.longestStallBeganMs())));
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
        const auto window = [&] { return shownWindowOf(connection, running.processId()); };
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
    // The window over a model in `situation`, shown.
    void showWindow(Situation situation)
    {
        reachModelSituation(situation);
        m_window = std::make_unique<WindowLoader>(*m_model, m_desktop, QStringLiteral(LOGO_MARK_PATH));
        QVERIFY(window());
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        if (situation <= Situation::signInError)
            QTRY_VERIFY(m_standIns.signIn->isOpen());
        if (situation == Situation::signInError) {
            m_standIns.signIn->finish(QUrl(QStringLiteral("tarnwick://auth/callback?state=stale")));
            QTRY_VERIFY(m_model->errorMessage().has_value());
        }
        if (situation == Situation::browserUnavailable) {
            m_standIns.signIn->failBrowser(Error{QStringLiteral("UrlLauncher"), 1, QStringLiteral("No browser")});
            QTRY_VERIFY(m_model->browserUnavailable());
        }
    }
    void reachModelSituation(Situation situation)
    {
        const ProviderReadiness nothing{
            {}, false, false, {QStringLiteral("Install Codex or Claude Code, then check again.")}};
        AppModelParts parts =
            windowParts(m_server->url(), m_standIns, situation == Situation::providersMissing ? nothing : codexOnly);
        m_standIns.store(situation >= Situation::offline          ? Stored::finishedSetup
                         : situation >= Situation::providersReady ? Stored::credential
                                                                  : Stored::nothing);
        m_model = std::make_unique<AppModel>(std::move(parts));
        QSignalSpy finished(m_model.get(), &AppModel::operationFinished);
        if (situation <= Situation::signInError)
            return;
        if (situation < Situation::offline) {
            QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness().has_value(), 10000);
            if (situation != Situation::providersReady)
                m_model->continueFromProviders();
            m_standIns.chooser->answer =
                QList<QUrl>{QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Projects/tarnwick"))};
            if (situation == Situation::oneFolder)
                m_model->chooseFolders();
            QTRY_COMPARE(m_model->selectedFolders().size(), situation == Situation::oneFolder ? 1 : 0);
            return;
        }
        // Set up: wait for the start-up confirmation and the helper check, then shape status and network.
        QVERIFY(m_standIns.writeStatus(State::connected));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
        QCOMPARE(m_model->machine().step, OnboardingStep::connected);
        QVERIFY(m_standIns.writeStatus(situation == Situation::gettingReady    ? State::starting
                                       : situation == Situation::couldNotStart ? State::stopped
                                                                               : State::connected));
        if (situation != Situation::checkingConnection)
            m_standIns.network->report(situation != Situation::offline);
        if (situation == Situation::needsApproval) {
            m_standIns.loginItem->currentState = LoginItemState::requiresApproval;
            m_model->ensureHelperLifecycle();
        }
        m_model->readStatus();
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
    QQuickItem *item(const QString &objectName) const { return findVisible(window()->contentItem(), objectName); }
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
    RecordingDesktop m_desktop;
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
