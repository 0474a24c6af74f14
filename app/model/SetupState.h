#pragma once

#include "onboarding/OnboardingStateMachine.h"

#include <QObject>
#include <QString>

#include <optional>

// What the parts of the setup model share: the step, the message for the user, whether a long operation
// is under way, and a count of the user's requests. Every change is announced once, after it is made.
class SetupState : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    const OnboardingStateMachine &machine() const { return m_machine; }
    OnboardingStep step() const { return m_machine.step; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    bool busy() const { return m_busy; }

    void setMachine(const OnboardingStateMachine &machine);
    void setStep(OnboardingStep step);
    // The step moves to needsAttention with `message` for the user.
    void needsAttention(const QString &message);
    void setErrorMessage(std::optional<QString> message);
    void setBusy(bool busy);

    // Counts what the user asks for, so that the late answer of a keyring call can tell whether the user
    // has acted since it was asked; such an answer never undoes what the user did.
    void userActed() { ++m_userActions; }
    quint64 userActions() const { return m_userActions; }

Q_SIGNALS:
    void machineChanged();
    void errorMessageChanged();
    void busyChanged();
    // A long-running piece of work (confirmation, check, sign-in completion, log-out) has ended; lets
    // callers wait without polling.
    void operationFinished();

private:
    OnboardingStateMachine m_machine;
    std::optional<QString> m_errorMessage;
    bool m_busy = false;
    quint64 m_userActions = 0;
};
