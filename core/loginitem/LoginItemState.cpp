#include "LoginItemState.h"

#include "common/EnumTextTable.h"

QString rawValue(LoginItemState state)
{
    static constexpr EnumTextTable texts{
        std::pair{LoginItemState::enabled, u"enabled"},
        std::pair{LoginItemState::requiresApproval, u"requiresApproval"},
        std::pair{LoginItemState::notRegistered, u"notRegistered"},
        std::pair{LoginItemState::notFound, u"notFound"},
    };
    return texts.text(state);
}
