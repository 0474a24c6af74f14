#pragma once

#include "menu/MenuActivityCache.h"

#include <QList>
#include <QString>

// One line of the helper's menu as data, so the menu's contents can be built and checked without a tray.
struct MenuItem
{
    enum class Action { none, openTask, openMainApp, openDashboard, quit };

    bool separator = false;
    QString text{};
    bool enabled = false;
    Action action = Action::none;
    // The task identifier of a task item, in the 36-character upper-case form.
    QString representedObject{};

    friend bool operator==(const MenuItem &, const MenuItem &) = default;

    // The whole menu, top to bottom: the status title, the running task, up to three recent tasks in the
    // service's order (with a notice when the latest refresh failed), then the actions.
    static QList<MenuItem> menu(const QString &title, const MenuActivityCache &activityCache);
};
