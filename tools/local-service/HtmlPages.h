#pragma once

#include "ActivityFeed.h"
#include "ConnectionRequest.h"
#include "FeedTask.h"
#include "RegisteredDevice.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The service's browser pages, as UTF-8 HTML. Every text that came from a request or a file is escaped.
namespace HtmlPages {
// "Allow this Mac": what the Mac asked for and the one button that approves it.
QByteArray connection(const ConnectionRequest &request, const QString &connectionId);

// A page that explains why the browser's request was turned down.
QByteArray problem(const QString &title, const QString &message);

// The task dashboard: the running and recent tasks and the paired Macs.
QByteArray dashboard(const ActivityFeed &feed, const QList<RegisteredDevice> &devices, const QDateTime &now);

// One task's page.
QByteArray task(const FeedTask &task);
}
