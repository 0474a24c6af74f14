#include "OnboardingStep.h"

#include <array>
#include <utility>

namespace {

constexpr std::array rawValues{
    std::pair{OnboardingStep::connect, u"connect"},
    std::pair{OnboardingStep::providers, u"providers"},
    std::pair{OnboardingStep::folders, u"folders"},
    std::pair{OnboardingStep::connected, u"connected"},
    std::pair{OnboardingStep::needsAttention, u"needsAttention"},
};

} // namespace

QString rawValue(OnboardingStep step)
{
    // The table lists the cases in declaration order.
    return QString::fromUtf16(rawValues.at(static_cast<std::size_t>(step)).second);
}

std::optional<OnboardingStep> onboardingStepFromRawValue(QStringView rawValue)
{
    for (const auto &[step, text] : rawValues) {
        if (rawValue == QStringView(text))
            return step;
    }
    return std::nullopt;
}
