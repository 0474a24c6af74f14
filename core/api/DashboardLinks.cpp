#include "DashboardLinks.h"

namespace DashboardLinks {

std::optional<QUrl> task(const QUrl &baseURL, const QUuid &taskId)
{
    if (!baseURL.isValid() || baseURL.isRelative())
        return std::nullopt;
    QUrl link = baseURL;
    link.setPath(QStringLiteral("/"));
    link.setQuery(QStringLiteral("task=") + taskId.toString(QUuid::WithoutBraces).toUpper());
    if (!link.isValid())
        return std::nullopt;
    return link;
}

}
