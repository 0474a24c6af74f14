#include "LoginItemState.h"

#include <array>
#include <utility>

namespace {

constexpr std::array rawValues{
    std::pair{LoginItemState::enabled, u"enabled"},
    std::pair{LoginItemState::requiresApproval, u"requiresApproval"},
    std::pair{LoginItemState::notRegistered, u"notRegistered"},
    std::pair{LoginItemState::notFound, u"notFound"},
};

} // namespace

QString rawValue(LoginItemState state)
{
    // The table lists the cases in declaration order.
    return QString::fromUtf16(rawValues.at(static_cast<std::size_t>(state)).second);
}

std::optional<LoginItemState> loginItemStateFromRawValue(QStringView rawValue)
{
    for (const auto &[state, text] : rawValues) {
        if (rawValue == QStringView(text))
            return state;
    }
    return std::nullopt;
}
