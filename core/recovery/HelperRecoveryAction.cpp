#include "HelperRecoveryAction.h"

#include "common/EnumTextTable.h"

QString rawValue(HelperRecoveryAction action)
{
    static constexpr EnumTextTable texts{
        std::pair{HelperRecoveryAction::none, u"none"},
        std::pair{HelperRecoveryAction::registerHelper, u"register"},
        std::pair{HelperRecoveryAction::restart, u"restart"},
        std::pair{HelperRecoveryAction::enableInSystemSettings, u"enableInSystemSettings"},
        std::pair{HelperRecoveryAction::reinstall, u"reinstall"},
    };
    return texts.text(action);
}
