#pragma once

#include "common/Error.h"
#include "loginitem/LoginItemManaging.h"

#include <memory>

// What setup and recovery do with the helper's login item, on top of any manager. Errors pass through
// unchanged.
class HelperRegistrationService
{
public:
    explicit HelperRegistrationService(std::shared_ptr<LoginItemManaging> manager);

    LoginItemState state() const;
    [[nodiscard]] Result<void> enable();
    [[nodiscard]] Result<void> disable();
    // Unregisters, then registers again only if unregistering succeeded. A failed registration is not
    // rolled back.
    [[nodiscard]] Result<void> restart();

    const std::shared_ptr<LoginItemManaging> &manager() const { return m_manager; }

private:
    std::shared_ptr<LoginItemManaging> m_manager;
};
