#include "OnboardingError.h"

QString errorDescription(OnboardingError error)
{
    switch (error) {
    case OnboardingError::invalidTransition:
        return QStringLiteral("That setup step is not available yet.");
    case OnboardingError::providerRequired:
        return QStringLiteral("Verify Codex or Claude Code to continue.");
    case OnboardingError::folderRequired:
        return QStringLiteral("Choose at least one permitted folder.");
    }
    Q_UNREACHABLE();
    return {};
}

QString onboardingErrorDomain()
{
    return QStringLiteral("OnboardingError");
}

Error toError(OnboardingError error)
{
    return Error{onboardingErrorDomain(), static_cast<int>(error), errorDescription(error)};
}
