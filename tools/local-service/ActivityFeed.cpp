#include "ActivityFeed.h"

#include "WireText.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {
using Members = std::initializer_list<std::pair<QString, QString FeedTask::*>>;

std::expected<FeedTask, QString> readTask(const QJsonValue &value, const QString &where, Members members)
{
    if (!value.isObject())
        return std::unexpected(u"%1 is not an object."_s.arg(where));
    const QJsonObject object = value.toObject();
    const std::optional<QUuid> taskId = WireText::parseUuid(object.value(u"taskId"_s).toString());
    if (!taskId)
        return std::unexpected(u"%1 has no “taskId” that is a UUID."_s.arg(where));
    FeedTask task;
    task.taskId = *taskId;
    for (const auto &[name, field] : members) {
        const QJsonValue member = object.value(name);
        if (!member.isString())
            return std::unexpected(u"%1 has no text “%2”."_s.arg(where, name));
        task.*field = member.toString();
    }
    return task;
}

QJsonObject demoJson(const QDateTime &now)
{
    const auto ago = [&](int minutes) { return WireText::date(now.addSecs(-60 * minutes)); };
    const auto recent = [&](const char *taskId, const QString &label, const QString &status, int minutes) {
        return QJsonObject{{u"taskId"_s, QString::fromLatin1(taskId)},
                           {u"label"_s, label},
                           {u"status"_s, status},
                           {u"completedAt"_s, ago(minutes)}};
    };
    return QJsonObject{
        {u"running"_s, QJsonObject{{u"taskId"_s, u"6F1C2B7E-3D4A-4E5B-9C8D-1A2B3C4D5E6F"_s},
                                   {u"label"_s, u"Fix the flaky checkout test"_s},
                                   {u"provider"_s, u"Codex"_s},
                                   {u"startedAt"_s, ago(4)}}},
        {u"recent"_s,
         QJsonArray{
             recent("0B9E8D7C-6B5A-4F3E-8D2C-1B0A9F8E7D6C", u"Add dark mode to the settings page"_s, u"Completed"_s,
                    18),
             recent("1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F", u"Upgrade the build to Node 20"_s, u"Completed"_s, 52),
             recent("2D3E4F5A-6B7C-4D8E-9F0A-1B2C3D4E5F6A", u"Investigate the slow search query"_s, u"Failed"_s, 95),
             recent("3E4F5A6B-7C8D-4E9F-8A1B-2C3D4E5F6A7B", u"Write release notes for 2.4"_s, u"Completed"_s, 180),
             recent("4F5A6B7C-8D9E-4F0A-9B2C-3D4E5F6A7B8C", u"Rename the billing module"_s, u"Cancelled"_s, 1440),
         }},
    };
}
}

ActivityFeed ActivityFeed::demo(const QDateTime &now)
{
    return fromJson(QJsonDocument(demoJson(now)).toJson(QJsonDocument::Compact)).value();
}

std::expected<ActivityFeed, QString> ActivityFeed::fromJson(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return std::unexpected(
            u"It is not JSON: %1 at offset %2."_s.arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        return std::unexpected(u"It is not a JSON object."_s);

    ActivityFeed feed;
    feed.m_json = document.object();
    const QJsonValue running = feed.m_json.value(u"running"_s);
    if (!running.isUndefined() && !running.isNull()) {
        auto task = readTask(running, u"“running”"_s,
                             {{u"label"_s, &FeedTask::label},
                              {u"provider"_s, &FeedTask::provider},
                              {u"startedAt"_s, &FeedTask::startedAt}});
        if (!task)
            return std::unexpected(task.error());
        task->status = u"Running"_s;
        task->running = true;
        feed.m_running = *task;
    }
    const QJsonValue recent = feed.m_json.value(u"recent"_s);
    if (!recent.isArray())
        return std::unexpected(u"It has no list “recent”."_s);
    const QJsonArray recentTasks = recent.toArray();
    for (qsizetype index = 0; index < recentTasks.size(); ++index) {
        auto task = readTask(recentTasks.at(index), u"“recent” item %1"_s.arg(index + 1),
                             {{u"label"_s, &FeedTask::label},
                              {u"status"_s, &FeedTask::status},
                              {u"completedAt"_s, &FeedTask::completedAt}});
        if (!task)
            return std::unexpected(task.error());
        feed.m_recent.append(*task);
    }
    return feed;
}

std::expected<ActivityFeed, QString> ActivityFeed::fromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(u"The activity file %1 cannot be read: %2."_s.arg(path, file.errorString()));
    auto feed = fromJson(file.readAll());
    if (!feed)
        return std::unexpected(u"The activity file %1 is not a task activity. %2"_s.arg(path, feed.error()));
    return feed;
}

const QJsonObject &ActivityFeed::json() const
{
    return m_json;
}

const std::optional<FeedTask> &ActivityFeed::running() const
{
    return m_running;
}

const QList<FeedTask> &ActivityFeed::recent() const
{
    return m_recent;
}

std::optional<FeedTask> ActivityFeed::task(const QUuid &taskId) const
{
    if (m_running && m_running->taskId == taskId)
        return m_running;
    for (const FeedTask &task : m_recent) {
        if (task.taskId == taskId)
            return task;
    }
    return std::nullopt;
}
