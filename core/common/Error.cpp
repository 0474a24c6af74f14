#include "Error.h"

#include <cstring>

Error Error::posix(int errorNumber, const QString &context)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(errorNumber));
    return Error{QStringLiteral("POSIX"), errorNumber,
                 context.isEmpty() ? reason : context + QStringLiteral(": ") + reason};
}
