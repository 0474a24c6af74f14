#include "OnboardingStep.h"

#include "common/EnumTextTable.h"

QString rawValue(OnboardingStep step)
{
    static constexpr EnumTextTable texts{
        std::pair{OnboardingStep::connect, u"connect"},
        std::pair{OnboardingStep::providers, u"providers"},
        std::pair{OnboardingStep::folders, u"folders"},
        std::pair{OnboardingStep::connected, u"connected"},
        std::pair{OnboardingStep::needsAttention, u"needsAttention"},
    };
    return texts.text(step);
}
