#include "MenuItem.h"

namespace {

constexpr qsizetype shownRecentTasks = 3;

MenuItem separatorItem()
{
    return MenuItem{.separator = true};
}

MenuItem label(const QString &text)
{
    return MenuItem{.text = text};
}

MenuItem actionItem(const QString &text, MenuItem::Action action)
{
    return MenuItem{.text = text, .enabled = true, .action = action};
}

MenuItem taskItem(const QString &text, const QUuid &taskId)
{
    return MenuItem{.text = text,
                    .enabled = true,
                    .action = MenuItem::Action::openTask,
                    .representedObject = taskId.toString(QUuid::WithoutBraces).toUpper()};
}

} // namespace

QList<MenuItem> MenuItem::menu(const QString &title, const MenuActivityCache &activityCache)
{
    const std::optional<DeviceTaskActivity> &activity = activityCache.activity;
    QList<MenuItem> items{label(title), separatorItem(), label(QStringLiteral("Running"))};

    if (activity && activity->running)
        items.append(taskItem(activity->running->label, activity->running->taskId));
    else
        items.append(label(QStringLiteral("Nothing running")));

    items.append({separatorItem(), label(QStringLiteral("Recent"))});
    const QList<RecentDeviceTask> recent =
        activity ? activity->recent.first(std::min(activity->recent.size(), shownRecentTasks))
                 : QList<RecentDeviceTask>();
    for (const RecentDeviceTask &task : recent)
        items.append(taskItem(task.label + QStringLiteral(" — ") + task.status, task.taskId));
    if (recent.isEmpty())
        items.append(label(QStringLiteral("Nothing recent")));
    if (activityCache.refreshFailed)
        items.append(label(QStringLiteral("Couldn’t refresh activity")));

    items.append({separatorItem(), actionItem(QStringLiteral("Open Tarnwick…"), Action::openMainApp),
                  actionItem(QStringLiteral("View All Tasks"), Action::openDashboard), separatorItem(),
                  actionItem(QStringLiteral("Quit Tarnwick"), Action::quit)});
    return items;
}
