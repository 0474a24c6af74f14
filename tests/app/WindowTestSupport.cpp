#include "WindowTestSupport.h"

#include "config/AppPaths.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

QQuickItem *findItem(QQuickItem *root, const QString &objectName, bool visibleOnly)
{
    if (!root || (visibleOnly && !root->isVisible()))
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, objectName, visibleOnly))
            return found;
    }
    return nullptr;
}

const ProviderReadiness nothingFound{{}, false, false, {QStringLiteral("Install Codex or Claude Code, then check again.")}};

} // namespace

WindowHarness::WindowHarness(Situation situation)
    : m_service(std::make_unique<LocalService>())
{
    (void)keychain().remove();
    (void)configFile().remove();
    QFile::remove(AppPaths::status());
    reachModelSituation(situation);
    m_loader = std::make_unique<WindowLoader>(*m_model, m_desktop, QStringLiteral(LOGO_MARK_PATH));
    if (!window())
        return;
    window()->show();
    (void)QTest::qWaitForWindowExposed(window());
    if (situation == Situation::signInError && m_seams.signIn->isOpen()) {
        m_seams.signIn->finish(QUrl(QStringLiteral("tarnwick://auth/callback?state=stale")));
        QTRY_VERIFY(m_model->errorMessage().has_value());
    }
}

WindowHarness::~WindowHarness()
{
    m_loader.reset();
    m_model.reset();
}

void WindowHarness::reachModelSituation(Situation situation)
{
    const QUrl base = m_service->baseURL();
    const bool paired = situation >= Situation::checkingProviders;
    const bool setUp = situation >= Situation::checkingConnection;
    QUuid device;
    if (paired)
        device = pairedDevice(base);
    if (setUp)
        (void)configFile().save(resumableConfig(device));

    ProviderReadiness discovered = situation == Situation::providersMissing ? nothingFound : codexOnly;
    AppModelParts parts = testParts(base, m_seams, discovered);
    if (situation == Situation::checkingProviders)
        parts.discoverProviders = [] {
            QThread::sleep(2);
            return codexOnly;
        };
    m_model = std::make_unique<AppModel>(std::move(parts));
    m_seams.loginItem->state = LoginItemState::enabled;
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
    QSignalSpy finished(m_model.get(), &AppModel::operationFinished);

    switch (situation) {
    case Situation::firstLaunch:
    case Situation::signInOpen:
    case Situation::signInError:
        // The window opens the sign-in when it is shown.
        return;
    case Situation::checkingProviders:
        QTRY_VERIFY_WITH_TIMEOUT(m_model->busy(), 10000);
        return;
    case Situation::providersReady:
    case Situation::providersMissing:
        QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness().has_value(), 10000);
        if (situation == Situation::providersMissing)
            m_model->continueFromProviders();
        return;
    case Situation::noFolders:
    case Situation::oneFolder:
    case Situation::twoFolders:
        QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness().has_value(), 10000);
        m_model->continueFromProviders();
        if (situation == Situation::noFolders)
            return;
        m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Projects/tarnwick"))};
        if (situation == Situation::twoFolders)
            m_seams.chooser->answer->append(QUrl::fromLocalFile(QStringLiteral("/srv/www/site")));
        m_model->chooseFolders();
        QTRY_VERIFY(!m_model->selectedFolders().isEmpty());
        return;
    default:
        break;
    }

    // Set up: wait for the start-up confirmation and the helper check, then shape status and network.
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    const QDateTime now = m_seams.clock->now();
    switch (situation) {
    case Situation::checkingConnection:
        writeHelperStatus(HelperStatus(HelperStatus::State::connected, now));
        break;
    case Situation::offline:
        writeHelperStatus(HelperStatus(HelperStatus::State::connected, now));
        m_seams.network->report(false);
        break;
    case Situation::readyForCalls:
        writeHelperStatus(HelperStatus(HelperStatus::State::connected, now));
        m_seams.network->report(true);
        break;
    case Situation::gettingReady:
        writeHelperStatus(HelperStatus(HelperStatus::State::starting, now.addSecs(-10)));
        m_seams.network->report(true);
        break;
    case Situation::couldNotStart:
        writeHelperStatus(HelperStatus(HelperStatus::State::connected, now.addSecs(-120)));
        m_seams.network->report(true);
        break;
    case Situation::needsApproval:
        writeHelperStatus(HelperStatus(HelperStatus::State::connected, now));
        m_seams.network->report(true);
        m_seams.loginItem->state = LoginItemState::requiresApproval;
        m_model->ensureHelperLifecycle();
        break;
    default:
        break;
    }
    m_model->readStatus();
    QTest::qWait(50);
}

QQuickItem *WindowHarness::item(const QString &objectName) const
{
    return window() ? findItem(window()->contentItem(), objectName, true) : nullptr;
}

QQuickItem *WindowHarness::anyItem(const QString &objectName) const
{
    return window() ? findItem(window()->contentItem(), objectName, false) : nullptr;
}

QString WindowHarness::text(const QString &objectName) const
{
    QQuickItem *found = item(objectName);
    return found ? found->property("text").toString() : QString();
}

void WindowHarness::click(QQuickItem *target) const
{
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}
