#include "HelperRecoveryAction.h"

QString rawValue(HelperRecoveryAction action)
{
    switch (action) {
    case HelperRecoveryAction::none:
        return QStringLiteral("none");
    case HelperRecoveryAction::registerHelper:
        return QStringLiteral("register");
    case HelperRecoveryAction::restart:
        return QStringLiteral("restart");
    case HelperRecoveryAction::enableInSystemSettings:
        return QStringLiteral("enableInSystemSettings");
    case HelperRecoveryAction::reinstall:
        return QStringLiteral("reinstall");
    }
    return {};
}
