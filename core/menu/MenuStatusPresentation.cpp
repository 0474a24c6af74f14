#include "MenuStatusPresentation.h"

#include "status/HelperHealth.h"

MenuStatusPresentation MenuStatusPresentation::ready()
{
    return {QStringLiteral("Ready for tasks"), QStringLiteral("laptopcomputer")};
}

MenuStatusPresentation MenuStatusPresentation::starting()
{
    return {QStringLiteral("Starting runner\u2026"), QStringLiteral("laptopcomputer")};
}

MenuStatusPresentation MenuStatusPresentation::attention()
{
    return {QStringLiteral("Needs attention"), QStringLiteral("exclamationmark.triangle.fill")};
}

MenuStatusPresentation MenuStatusPresentation::make(const std::optional<HelperStatus> &helperStatus,
                                                    LoginItemState loginItemState, bool credentialInvalid,
                                                    const QDateTime &now)
{
    if (credentialInvalid || loginItemState != LoginItemState::enabled)
        return attention();
    if (!helperStatus)
        return starting();
    switch (helperStatus->state()) {
    case HelperStatus::State::needsAttention:
    case HelperStatus::State::stopped: return attention();
    case HelperStatus::State::starting:
    case HelperStatus::State::connected: break;
    }
    return HelperHealth::isFresh(helperStatus, now) ? ready() : starting();
}
