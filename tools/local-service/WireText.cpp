#include "WireText.h"

#include <QRegularExpression>

namespace WireText {
QString uuid(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString date(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

std::optional<QUuid> parseUuid(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    const QUuid id = QUuid::fromString(text);
    if (!form.match(text).hasMatch() || id.isNull())
        return std::nullopt;
    return id;
}
}
