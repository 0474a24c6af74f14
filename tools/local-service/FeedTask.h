#pragma once

#include <QString>
#include <QUuid>

// One task of the activity feed as the dashboard shows it: the running task (with its agent and start) or a
// finished one (with its final status and completion).
struct FeedTask
{
    QUuid taskId;
    QString label;
    QString status;
    QString provider;
    QString startedAt;
    QString completedAt;
    bool running = false;

    friend bool operator==(const FeedTask &, const FeedTask &) = default;
};
