#include "AttentionNotice.h"

#include "menu/MenuStatusPresentation.h"

namespace {

bool needsAttention(const std::optional<HelperStatus> &helperStatus, bool credentialInvalid)
{
    return credentialInvalid || (helperStatus && helperStatus->state() == HelperStatus::State::needsAttention);
}

} // namespace

AttentionNotice::Action AttentionNotice::update(const std::optional<HelperStatus> &helperStatus, bool credentialInvalid,
                                                const QDateTime &now)
{
    if (!shown && needsAttention(helperStatus, credentialInvalid)) {
        shown = true;
        return Action::show;
    }
    const bool ready = MenuStatusPresentation::make(helperStatus, LoginItemState::enabled, credentialInvalid, now)
                       == MenuStatusPresentation::ready();
    if (shown && ready) {
        shown = false;
        return Action::withdraw;
    }
    return Action::none;
}

QString AttentionNotice::body(const std::optional<HelperStatus> &helperStatus, bool credentialInvalid)
{
    if (credentialInvalid)
        return QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect.");
    return helperStatus ? helperStatus->error().value_or(QString()) : QString();
}
