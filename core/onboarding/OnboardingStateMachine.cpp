#include "OnboardingStateMachine.h"

#include "onboarding/OnboardingError.h"

namespace {

Result<void> refuse(OnboardingError error)
{
    return failure(toError(error));
}

} // namespace

Result<void> OnboardingStateMachine::paired()
{
    if (step != OnboardingStep::connect && step != OnboardingStep::needsAttention)
        return refuse(OnboardingError::invalidTransition);
    step = OnboardingStep::providers;
    return {};
}

Result<void> OnboardingStateMachine::providersVerified(const ProviderPaths &paths)
{
    if (step != OnboardingStep::providers)
        return refuse(OnboardingError::invalidTransition);
    if (!paths.hasProvider())
        return refuse(OnboardingError::providerRequired);
    step = OnboardingStep::folders;
    return {};
}

Result<void> OnboardingStateMachine::foldersSelected(const QStringList &folders)
{
    if (step != OnboardingStep::folders)
        return refuse(OnboardingError::invalidTransition);
    if (folders.isEmpty())
        return refuse(OnboardingError::folderRequired);
    step = OnboardingStep::connected;
    return {};
}

void OnboardingStateMachine::needsAttention()
{
    step = OnboardingStep::needsAttention;
}

void OnboardingStateMachine::reset()
{
    step = OnboardingStep::connect;
}
