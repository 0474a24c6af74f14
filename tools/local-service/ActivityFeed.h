#pragma once

#include "FeedTask.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <expected>
#include <optional>

// The task activity the service reports for a paired Mac: a seeded demo set, or the contents of a JSON file
// in the form of the activity answer ({"running": …, "recent": […]}).
class ActivityFeed
{
public:
    // One running task and five recent ones, dated relative to `now`.
    static ActivityFeed demo(const QDateTime &now);

    // Checks the answer's form the way a client decodes it: "recent" is a list, and every task has its
    // identifier (a UUID) and text members. The first problem is answered as a sentence.
    static std::expected<ActivityFeed, QString> fromJson(const QByteArray &json);
    static std::expected<ActivityFeed, QString> fromFile(const QString &path);

    // The answer exactly as given, unknown members and the identifiers' letter case included.
    const QJsonObject &json() const;

    const std::optional<FeedTask> &running() const;
    const QList<FeedTask> &recent() const;
    std::optional<FeedTask> task(const QUuid &taskId) const;

private:
    QJsonObject m_json;
    std::optional<FeedTask> m_running;
    QList<FeedTask> m_recent;
};
