#include "HtmlPages.h"

#include "WireText.h"

namespace {
const QString style = QStringLiteral(R"(
body { font-family: system-ui, sans-serif; background: #f4f1ec; color: #1d1b19; margin: 0; }
main { max-width: 34rem; margin: 4rem auto; background: #fff; border-radius: 12px; padding: 2rem 2.5rem;
       box-shadow: 0 1px 4px rgba(0, 0, 0, 0.12); }
h1 { font-family: serif; font-weight: 600; margin-top: 0; }
h2 { font-size: 1rem; text-transform: uppercase; letter-spacing: 0.05em; color: #6b645c; margin-top: 2rem; }
dl { display: grid; grid-template-columns: max-content auto; gap: 0.4rem 1.2rem; }
dt { color: #6b645c; }
dd { margin: 0; overflow-wrap: anywhere; }
ul { padding-left: 1.2rem; }
li { margin: 0.4rem 0; }
a { color: #8a3b12; }
button { font: inherit; font-weight: 600; color: #fff; background: #8a3b12; border: 0; border-radius: 8px;
         padding: 0.7rem 1.6rem; cursor: pointer; }
.note { color: #6b645c; font-size: 0.9rem; }
)");

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QByteArray page(const QString &title, const QString &body)
{
    return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                           "<title>%1</title><style>%2</style></head>\n<body><main>\n%3</main></body></html>\n"))
        .arg(escaped(title), style, body)
        .toUtf8();
}

QString row(const QString &term, const QString &value)
{
    return QStringLiteral("<dt>%1</dt><dd>%2</dd>\n").arg(escaped(term), escaped(value));
}

QString taskLink(const FeedTask &task)
{
    return QStringLiteral("<a href=\"/?task=%1\">%2</a>")
        .arg(escaped(WireText::uuid(task.taskId)), escaped(task.label));
}

QString runningSection(const ActivityFeed &feed)
{
    if (!feed.running())
        return QStringLiteral("<h2>Running</h2>\n<p>Nothing running</p>\n");
    const FeedTask &task = *feed.running();
    return QStringLiteral("<h2>Running</h2>\n<ul><li>%1 — %2, started %3</li></ul>\n")
        .arg(taskLink(task), escaped(task.provider), escaped(task.startedAt));
}

QString recentSection(const ActivityFeed &feed)
{
    if (feed.recent().isEmpty())
        return QStringLiteral("<h2>Recent</h2>\n<p>Nothing recent</p>\n");
    QString items;
    for (const FeedTask &task : feed.recent())
        items += QStringLiteral("<li>%1 — %2, %3</li>\n")
                     .arg(taskLink(task), escaped(task.status), escaped(task.completedAt));
    return QStringLiteral("<h2>Recent</h2>\n<ul>\n%1</ul>\n").arg(items);
}

QString devicesSection(const QList<RegisteredDevice> &devices, const QDateTime &now)
{
    if (devices.isEmpty())
        return QStringLiteral("<h2>Macs</h2>\n<p>No Mac is connected yet.</p>\n");
    QString items;
    for (const RegisteredDevice &device : devices) {
        const QString seen = device.isOnline(now)
                                 ? QStringLiteral("online")
                                 : QStringLiteral("last seen ") + WireText::date(device.lastSeenAt.value_or(now));
        items += QStringLiteral("<li>%1 — %2 %3, version %4, %5</li>\n")
                     .arg(escaped(device.name), escaped(device.platform), escaped(device.architecture),
                          escaped(device.appVersion), escaped(seen));
    }
    return QStringLiteral("<h2>Macs</h2>\n<ul>\n%1</ul>\n").arg(items);
}
}

namespace HtmlPages {
QByteArray connection(const ConnectionRequest &request, const QString &connectionId)
{
    QString details =
        row(QStringLiteral("Name"), request.deviceName)
        + row(QStringLiteral("Platform"), request.platform + QStringLiteral(" · ") + request.architecture)
        + row(QStringLiteral("Tarnwick"),
              request.clientBuild ? QStringLiteral("%1 (build %2)").arg(request.appVersion, *request.clientBuild)
                                  : request.appVersion);
    if (request.existingDeviceId)
        details += row(QStringLiteral("Reconnects"), WireText::uuid(*request.existingDeviceId));
    return page(
        QStringLiteral("Allow this Mac"),
        QStringLiteral("<h1>Allow this Mac</h1>\n"
                       "<p>Tarnwick on this Mac asks to take calls for your account.</p>\n"
                       "<dl>\n%1</dl>\n"
                       "<form method=\"post\" action=\"/connect/approve\">"
                       "<input type=\"hidden\" name=\"connection\" value=\"%2\">"
                       "<button type=\"submit\">Allow this Mac</button></form>\n"
                       "<p class=\"note\">If you did not start this from Tarnwick on your Mac, close this page.</p>\n")
            .arg(details, escaped(connectionId)));
}

QByteArray problem(const QString &title, const QString &message)
{
    return page(title, QStringLiteral("<h1>%1</h1>\n<p>%2</p>\n").arg(escaped(title), escaped(message)));
}

QByteArray dashboard(const ActivityFeed &feed, const QList<RegisteredDevice> &devices, const QDateTime &now)
{
    return page(QStringLiteral("Tasks"), QStringLiteral("<h1>Tasks</h1>\n") + runningSection(feed) + recentSection(feed)
                                             + devicesSection(devices, now));
}

QByteArray task(const FeedTask &task)
{
    QString details = row(QStringLiteral("Status"), task.status);
    if (task.running)
        details += row(QStringLiteral("Agent"), task.provider) + row(QStringLiteral("Started"), task.startedAt);
    else
        details += row(QStringLiteral("Completed"), task.completedAt);
    details += row(QStringLiteral("Task"), WireText::uuid(task.taskId));
    return page(task.label, QStringLiteral("<h1>%1</h1>\n<dl>\n%2</dl>\n<p><a href=\"/\">All tasks</a></p>\n")
                                .arg(escaped(task.label), details));
}
}
