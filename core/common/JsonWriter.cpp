#include "JsonWriter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>

#include <cmath>

namespace {

using JsonWriter::Layout;

void appendString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char byte : text.toUtf8()) {
        switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(byte) < 0x20)
                out += "\\u00" + QByteArray::number(static_cast<unsigned char>(byte), 16).rightJustified(2, '0');
            else
                out += byte;
        }
    }
    out += '"';
}

void appendNumber(QByteArray &out, double number)
{
    constexpr double exactIntegerLimit = 9007199254740992.0; // 2^53
    if (std::abs(number) < exactIntegerLimit && std::trunc(number) == number)
        out += QByteArray::number(static_cast<qint64>(number));
    else
        out += QByteArray::number(number, 'g', QLocale::FloatingPointShortest);
}

void appendValue(QByteArray &out, const QJsonValue &value, Layout layout, int depth);

void appendBreak(QByteArray &out, Layout layout, int depth)
{
    if (layout == Layout::pretty)
        out += '\n' + QByteArray(2 * depth, ' ');
}

// Writes "[…]" or "{…}" with `count` entries; `appendEntry(i)` writes entry i.
template<typename AppendEntry>
void appendContainer(QByteArray &out, char open, char close, qsizetype count, Layout layout, int depth,
                     AppendEntry appendEntry)
{
    out += open;
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0)
            out += ',';
        appendBreak(out, layout, depth + 1);
        appendEntry(i);
    }
    if (count > 0)
        appendBreak(out, layout, depth);
    out += close;
}

void appendObject(QByteArray &out, const QJsonObject &object, Layout layout, int depth)
{
    const QStringList keys = object.keys(); // QJsonObject keeps its keys sorted
    appendContainer(out, '{', '}', keys.size(), layout, depth, [&](qsizetype i) {
        appendString(out, keys[i]);
        out += layout == Layout::pretty ? " : " : ":";
        appendValue(out, object.value(keys[i]), layout, depth + 1);
    });
}

void appendArray(QByteArray &out, const QJsonArray &array, Layout layout, int depth)
{
    appendContainer(out, '[', ']', array.size(), layout, depth,
                    [&](qsizetype i) { appendValue(out, array.at(i), layout, depth + 1); });
}

void appendValue(QByteArray &out, const QJsonValue &value, Layout layout, int depth)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: out += "null"; break;
    case QJsonValue::Bool: out += value.toBool() ? "true" : "false"; break;
    case QJsonValue::Double: appendNumber(out, value.toDouble()); break;
    case QJsonValue::String: appendString(out, value.toString()); break;
    case QJsonValue::Array: appendArray(out, value.toArray(), layout, depth); break;
    case QJsonValue::Object: appendObject(out, value.toObject(), layout, depth); break;
    }
}

} // namespace

QByteArray JsonWriter::write(const QJsonValue &value, Layout layout)
{
    QByteArray out;
    appendValue(out, value, layout, 0);
    return out;
}
