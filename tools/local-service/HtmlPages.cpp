#include "HtmlPages.h"

#include "WireText.h"

using namespace Qt::StringLiterals;

namespace {
const QString style = uR"(
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
)"_s;

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QByteArray page(const QString &title, const QString &body)
{
    return (u"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            u"<title>%1</title><style>%2</style></head>\n<body><main>\n%3</main></body></html>\n"_s)
        .arg(escaped(title), style, body)
        .toUtf8();
}

QString row(const QString &term, const QString &value)
{
    return u"<dt>%1</dt><dd>%2</dd>\n"_s.arg(escaped(term), escaped(value));
}

QString taskLink(const FeedTask &task)
{
    return u"<a href=\"/?task=%1\">%2</a>"_s.arg(escaped(WireText::uuid(task.taskId)), escaped(task.label));
}

QString runningSection(const ActivityFeed &feed)
{
    if (!feed.running())
        return u"<h2>Running</h2>\n<p>Nothing running</p>\n"_s;
    const FeedTask &task = *feed.running();
    return u"<h2>Running</h2>\n<ul><li>%1 — %2, started %3</li></ul>\n"_s.arg(taskLink(task), escaped(task.provider),
                                                                              escaped(task.startedAt));
}

QString recentSection(const ActivityFeed &feed)
{
    if (feed.recent().isEmpty())
        return u"<h2>Recent</h2>\n<p>Nothing recent</p>\n"_s;
    QString items;
    for (const FeedTask &task : feed.recent())
        items += u"<li>%1 — %2, %3</li>\n"_s.arg(taskLink(task), escaped(task.status), escaped(task.completedAt));
    return u"<h2>Recent</h2>\n<ul>\n%1</ul>\n"_s.arg(items);
}

QString devicesSection(const QList<RegisteredDevice> &devices, const QDateTime &now)
{
    if (devices.isEmpty())
        return u"<h2>Macs</h2>\n<p>No Mac is connected yet.</p>\n"_s;
    QString items;
    for (const RegisteredDevice &device : devices) {
        const QString seen =
            device.isOnline(now) ? u"online"_s : u"last seen "_s + WireText::date(device.lastSeenAt.value_or(now));
        items += u"<li>%1 — %2 %3, version %4, %5</li>\n"_s.arg(escaped(device.name), escaped(device.platform),
                                                                escaped(device.architecture),
                                                                escaped(device.appVersion), escaped(seen));
    }
    return u"<h2>Macs</h2>\n<ul>\n%1</ul>\n"_s.arg(items);
}
}

namespace HtmlPages {
QByteArray connection(const ConnectionRequest &request, const QString &connectionId)
{
    QString details =
        row(u"Name"_s, request.deviceName) + row(u"Platform"_s, request.platform + u" · "_s + request.architecture)
        + row(u"Tarnwick"_s, request.clientBuild ? u"%1 (build %2)"_s.arg(request.appVersion, *request.clientBuild)
                                                 : request.appVersion);
    if (request.existingDeviceId)
        details += row(u"Reconnects"_s, WireText::uuid(*request.existingDeviceId));
    return page(u"Allow this Mac"_s,
                u"<h1>Allow this Mac</h1>\n"
                u"<p>Tarnwick on this Mac asks to take calls for your account.</p>\n"
                u"<dl>\n%1</dl>\n"
                u"<form method=\"post\" action=\"/connect/approve\">"
                u"<input type=\"hidden\" name=\"connection\" value=\"%2\">"
                u"<button type=\"submit\">Allow this Mac</button></form>\n"
                u"<p class=\"note\">If you did not start this from Tarnwick on your Mac, close this page.</p>\n"_s.arg(
                    details, escaped(connectionId)));
}

QByteArray problem(const QString &title, const QString &message)
{
    return page(title, u"<h1>%1</h1>\n<p>%2</p>\n"_s.arg(escaped(title), escaped(message)));
}

QByteArray dashboard(const ActivityFeed &feed, const QList<RegisteredDevice> &devices, const QDateTime &now)
{
    return page(u"Tasks"_s,
                u"<h1>Tasks</h1>\n"_s + runningSection(feed) + recentSection(feed) + devicesSection(devices, now));
}

QByteArray task(const FeedTask &task)
{
    QString details = row(u"Status"_s, task.status);
    if (task.running)
        details += row(u"Agent"_s, task.provider) + row(u"Started"_s, task.startedAt);
    else
        details += row(u"Completed"_s, task.completedAt);
    details += row(u"Task"_s, WireText::uuid(task.taskId));
    return page(task.label, u"<h1>%1</h1>\n<dl>\n%2</dl>\n<p><a href=\"/\">All tasks</a></p>\n"_s.arg(
                                escaped(task.label), details));
}
}
