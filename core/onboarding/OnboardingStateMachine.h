#pragma once

#include "common/Error.h"
#include "config/ProviderPaths.h"
#include "onboarding/OnboardingStep.h"

#include <QStringList>

// The current setup step and the guarded ways forward. A refused transition fails with an
// OnboardingError (converted to Error) and leaves the step as it was; the step is checked before the
// argument. Assigning `step` directly is unguarded, for restoring an earlier setup.
struct OnboardingStateMachine
{
    OnboardingStep step = OnboardingStep::connect;

    // connect or needsAttention -> providers.
    [[nodiscard]] Result<void> paired();
    // providers -> folders, when at least one agent path is present.
    [[nodiscard]] Result<void> providersVerified(const ProviderPaths &paths);
    // folders -> connected, when at least one folder is given.
    [[nodiscard]] Result<void> foldersSelected(const QStringList &folders);
    // Any step -> needsAttention.
    void needsAttention();
    // Any step -> connect.
    void reset();

    friend bool operator==(const OnboardingStateMachine &, const OnboardingStateMachine &) = default;
};
