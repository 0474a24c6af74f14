#include "ReadyStatus.h"

#include "common/EnumTextTable.h"
#include "status/HelperHealth.h"

namespace ReadyStatusRule {

ReadyStatus decide(std::optional<bool> networkAvailable, const std::optional<HelperStatus> &helperStatus,
                   OnboardingStep step, const QDateTime &now)
{
    if (!networkAvailable)
        return ReadyStatus::checkingConnection;
    if (!*networkAvailable)
        return ReadyStatus::offline;
    if (HelperHealth::isFresh(helperStatus, now))
        return ReadyStatus::readyForCalls;
    if (step == OnboardingStep::connected && helperStatus && helperStatus->state() == HelperStatus::State::starting)
        return ReadyStatus::gettingReady;
    return ReadyStatus::couldNotStart;
}

QString name(ReadyStatus status)
{
    static constexpr EnumTextTable names{
        std::pair{ReadyStatus::checkingConnection, u"checkingConnection"},
        std::pair{ReadyStatus::offline, u"offline"},
        std::pair{ReadyStatus::readyForCalls, u"readyForCalls"},
        std::pair{ReadyStatus::gettingReady, u"gettingReady"},
        std::pair{ReadyStatus::couldNotStart, u"couldNotStart"},
    };
    return names.text(status);
}

} // namespace ReadyStatusRule
