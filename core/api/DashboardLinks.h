#pragma once

#include <QUrl>
#include <QUuid>

#include <optional>

// Links into the service's dashboard.
namespace DashboardLinks {

// The page of one task: the base URL's scheme, host and port, path "/", and the single query item
// "task" with the identifier in upper case. Nothing when `baseURL` is not an absolute URL.
std::optional<QUrl> task(const QUrl &baseURL, const QUuid &taskId);

}
