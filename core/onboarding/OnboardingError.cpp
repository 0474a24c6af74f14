#include "OnboardingError.h"

#include "common/EnumTextTable.h"

Error toError(OnboardingError error)
{
    static constexpr EnumTextTable descriptions{
        std::pair{OnboardingError::invalidTransition, u"That setup step is not available yet."},
        std::pair{OnboardingError::providerRequired, u"Verify Codex or Claude Code to continue."},
        std::pair{OnboardingError::folderRequired, u"Choose at least one permitted folder."},
    };
    return Error{QStringLiteral("OnboardingError"), static_cast<int>(error), descriptions.text(error)};
}
