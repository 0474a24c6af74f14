#include "WindowTestSupport.h"

#include "config/AppPaths.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QQuickItem *findVisible(QQuickItem *root, const QString &objectName)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findVisible(child, objectName))
            return found;
    }
    return nullptr;
}

} // namespace

WindowHarness::WindowHarness(Situation situation)
{
    if (!m_service.start())
        return;
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
        m_seams.signIn->finish(QUrl(u"tarnwick://auth/callback?state=stale"_s));
        QTRY_VERIFY(m_model->errorMessage().has_value());
    }
}

void WindowHarness::reachModelSituation(Situation situation)
{
    const QUrl base = m_service.baseUrl();
    const QUuid device = situation >= Situation::checkingProviders ? pairedDevice(base) : QUuid();
    if (situation >= Situation::checkingConnection)
        (void)configFile().save(resumableConfig(device));
    const ProviderReadiness nothing{{}, false, false, {u"Install Codex or Claude Code, then check again."_s}};
    AppModelParts parts = testParts(base, m_seams, situation == Situation::providersMissing ? nothing : codexOnly);
    if (situation == Situation::checkingProviders)
        parts.discoverProviders = [] {
            QThread::sleep(2);
            return codexOnly;
        };
    m_model = std::make_unique<AppModel>(std::move(parts));
    m_seams.loginItem->currentState = LoginItemState::enabled;
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
    QSignalSpy finished(m_model.get(), &AppModel::operationFinished);

    if (situation <= Situation::signInError)
        return;
    if (situation == Situation::checkingProviders) {
        QTRY_VERIFY_WITH_TIMEOUT(m_model->busy(), 10000);
        return;
    }
    if (situation < Situation::checkingConnection) {
        QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness().has_value(), 10000);
        if (situation != Situation::providersReady)
            m_model->continueFromProviders();
        if (situation == Situation::oneFolder || situation == Situation::twoFolders) {
            m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QDir::homePath() + u"/Projects/tarnwick"_s)};
            if (situation == Situation::twoFolders)
                m_seams.chooser->answer->append(QUrl::fromLocalFile(u"/srv/www/site"_s));
            m_model->chooseFolders();
            QTRY_VERIFY(!m_model->selectedFolders().isEmpty());
        }
        return;
    }

    // Set up: wait for the start-up confirmation and the helper check, then shape status and network.
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    const QDateTime now = m_seams.clock->now();
    const QDateTime heartbeat = situation == Situation::gettingReady    ? now.addSecs(-10)
                                : situation == Situation::couldNotStart ? now.addSecs(-120)
                                                                        : now;
    writeHelperStatus(HelperStatus(situation == Situation::gettingReady ? HelperStatus::State::starting
                                                                        : HelperStatus::State::connected,
                                   heartbeat));
    if (situation != Situation::checkingConnection)
        m_seams.network->report(situation != Situation::offline);
    if (situation == Situation::needsApproval) {
        m_seams.loginItem->currentState = LoginItemState::requiresApproval;
        m_model->ensureHelperLifecycle();
    }
    m_model->readStatus();
}

QQuickItem *WindowHarness::item(const QString &objectName) const
{
    return window() ? findVisible(window()->contentItem(), objectName) : nullptr;
}

void WindowHarness::click(const QString &objectName) const
{
    QQuickItem *target = item(objectName);
    QVERIFY2(target, qPrintable(objectName));
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}
