#include "SetupState.h"

void SetupState::setMachine(const OnboardingStateMachine &machine)
{
    if (m_machine == machine)
        return;
    m_machine = machine;
    Q_EMIT machineChanged();
}

void SetupState::setStep(OnboardingStep step)
{
    OnboardingStateMachine next = m_machine;
    next.step = step;
    setMachine(next);
}

void SetupState::needsAttention(const QString &message)
{
    OnboardingStateMachine next = m_machine;
    next.needsAttention();
    setMachine(next);
    setErrorMessage(message);
}

void SetupState::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void SetupState::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged();
}
