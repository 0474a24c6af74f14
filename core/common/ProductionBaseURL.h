#pragma once

#include "common/BuildInfo.h"

#include <QString>
#include <QUrl>

#include <cstdlib>

// The service both programs talk to, fixed when the program is built (CMake cache variable
// TARNWICK_BASE_URL). A value that is not an absolute URL is a build mistake: the program stops at the
// first use rather than talk to a wrong address.
inline const QUrl &productionBaseURL()
{
    static const QUrl url = [] {
        const QUrl parsed(QString::fromUtf8(TARNWICK_BASE_URL), QUrl::StrictMode);
        if (!parsed.isValid() || parsed.isRelative() || parsed.host().isEmpty())
            std::abort();
        return parsed;
    }();
    return url;
}
