#include "ActivityFeed.h"

#include "WireText.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
using Members = std::initializer_list<std::pair<QString, QString FeedTask::*>>;

std::expected<FeedTask, QString> readTask(const QJsonValue &value, const QString &where, Members members)
{
    if (!value.isObject())
        return std::unexpected(QStringLiteral("%1 is not an object.").arg(where));
    const QJsonObject object = value.toObject();
    const std::optional<QUuid> taskId = WireText::parseUuid(object.value(QStringLiteral("taskId")).toString());
    if (!taskId)
        return std::unexpected(QStringLiteral("%1 has no “taskId” that is a UUID.").arg(where));
    FeedTask task;
    task.taskId = *taskId;
    for (const auto &[name, field] : members) {
        const QJsonValue member = object.value(name);
        if (!member.isString())
            return std::unexpected(QStringLiteral("%1 has no text “%2”.").arg(where, name));
        task.*field = member.toString();
    }
    return task;
}

QJsonObject demoJson(const QDateTime &now)
{
    const auto ago = [&](int minutes) { return WireText::date(now.addSecs(-60 * minutes)); };
    const auto recent = [&](const char *taskId, const QString &label, const QString &status, int minutes) {
        return QJsonObject{{QStringLiteral("taskId"), QString::fromLatin1(taskId)},
                           {QStringLiteral("label"), label},
                           {QStringLiteral("status"), status},
                           {QStringLiteral("completedAt"), ago(minutes)}};
    };
    return QJsonObject{
        {QStringLiteral("running"),
         QJsonObject{{QStringLiteral("taskId"), QStringLiteral("6F1C2B7E-3D4A-4E5B-9C8D-1A2B3C4D5E6F")},
                     {QStringLiteral("label"), QStringLiteral("Fix the flaky checkout test")},
                     {QStringLiteral("provider"), QStringLiteral("Codex")},
                     {QStringLiteral("startedAt"), ago(4)}}},
        {QStringLiteral("recent"),
         QJsonArray{
             recent("0B9E8D7C-6B5A-4F3E-8D2C-1B0A9F8E7D6C", QStringLiteral("Add dark mode to the settings page"),
                    QStringLiteral("Completed"), 18),
             recent("1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F", QStringLiteral("Upgrade the build to Node 20"),
                    QStringLiteral("Completed"), 52),
             recent("2D3E4F5A-6B7C-4D8E-9F0A-1B2C3D4E5F6A", QStringLiteral("Investigate the slow search query"),
                    QStringLiteral("Failed"), 95),
             recent("3E4F5A6B-7C8D-4E9F-8A1B-2C3D4E5F6A7B", QStringLiteral("Write release notes for 2.4"),
                    QStringLiteral("Completed"), 180),
             recent("4F5A6B7C-8D9E-4F0A-9B2C-3D4E5F6A7B8C", QStringLiteral("Rename the billing module"),
                    QStringLiteral("Cancelled"), 1440),
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
            QStringLiteral("It is not JSON: %1 at offset %2.").arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        return std::unexpected(QStringLiteral("It is not a JSON object."));

    ActivityFeed feed;
    feed.m_json = document.object();
    const QJsonValue running = feed.m_json.value(QStringLiteral("running"));
    if (!running.isUndefined() && !running.isNull()) {
        auto task = readTask(running, QStringLiteral("“running”"),
                             {{QStringLiteral("label"), &FeedTask::label},
                              {QStringLiteral("provider"), &FeedTask::provider},
                              {QStringLiteral("startedAt"), &FeedTask::startedAt}});
        if (!task)
            return std::unexpected(task.error());
        task->status = QStringLiteral("Running");
        task->running = true;
        feed.m_running = *task;
    }
    const QJsonValue recent = feed.m_json.value(QStringLiteral("recent"));
    if (!recent.isArray())
        return std::unexpected(QStringLiteral("It has no list “recent”."));
    const QJsonArray recentTasks = recent.toArray();
    for (qsizetype index = 0; index < recentTasks.size(); ++index) {
        auto task = readTask(recentTasks.at(index), QStringLiteral("“recent” item %1").arg(index + 1),
                             {{QStringLiteral("label"), &FeedTask::label},
                              {QStringLiteral("status"), &FeedTask::status},
                              {QStringLiteral("completedAt"), &FeedTask::completedAt}});
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
        return std::unexpected(
            QStringLiteral("The activity file %1 cannot be read: %2.").arg(path, file.errorString()));
    auto feed = fromJson(file.readAll());
    if (!feed)
        return std::unexpected(
            QStringLiteral("The activity file %1 is not a task activity. %2").arg(path, feed.error()));
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
