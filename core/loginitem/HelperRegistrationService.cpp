#include "HelperRegistrationService.h"

HelperRegistrationService::HelperRegistrationService(std::shared_ptr<LoginItemManaging> manager)
    : m_manager(std::move(manager))
{
}

LoginItemState HelperRegistrationService::state() const
{
    return m_manager->state();
}

Result<void> HelperRegistrationService::enable()
{
    return m_manager->registerItem();
}

Result<void> HelperRegistrationService::disable()
{
    return m_manager->unregisterItem();
}

Result<void> HelperRegistrationService::restart()
{
    if (Result<void> unregistered = m_manager->unregisterItem(); !unregistered)
        return unregistered;
    return m_manager->registerItem();
}
