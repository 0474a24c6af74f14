#pragma once

#include "loginitem/LoginItemManaging.h"

#include <QStringList>

// The helper's login item with the platform's rules (register acts only on an unregistered item,
// unregister only on a registered one), recording every call.
class ScriptedLoginItem final : public LoginItemManaging
{
public:
    LoginItemState state() const override { return currentState; }
    Result<void> registerItem() override
    {
        calls.append(QStringLiteral("register"));
        if (currentState != LoginItemState::notRegistered)
            return {};
        if (registerFailure)
            return failure(*registerFailure);
        currentState = LoginItemState::enabled;
        return {};
    }
    Result<void> unregisterItem() override
    {
        calls.append(QStringLiteral("unregister"));
        if (unregisterFailure)
            return failure(*unregisterFailure);
        currentState = LoginItemState::notRegistered;
        return {};
    }

    LoginItemState currentState = LoginItemState::notRegistered;
    std::optional<Error> registerFailure, unregisterFailure;
    QStringList calls;
};
