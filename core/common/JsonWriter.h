#pragma once

#include <QByteArray>
#include <QJsonValue>

// Writes JSON bytes in the one form Tarnwick's files use: keys sorted at every level, "/" escaped as
// "\/", other text as UTF-8. QJsonDocument neither escapes "/" nor lets us choose the pretty layout.
namespace JsonWriter {

enum class Layout {
    compact, // no whitespace at all
    pretty,  // one member or element per line, two-space indent, "key" : value, empty containers as [] {}
};

QByteArray write(const QJsonValue &value, Layout layout);

} // namespace JsonWriter
