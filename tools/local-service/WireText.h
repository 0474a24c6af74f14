#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// How identifiers and dates are written in the service's answers, and how identifiers are read back.
namespace WireText {
// The 36-character upper-case form.
QString uuid(const QUuid &id);

// ISO 8601 in UTC with whole seconds and "Z".
QString date(const QDateTime &date);

// A UUID in its 36-character form, hexadecimal digits in either case; the nil UUID names nothing.
std::optional<QUuid> parseUuid(const QString &text);
}
