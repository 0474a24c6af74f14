#include "HelperStatus.h"

#include "common/EnumTextTable.h"
#include "common/JsonObjectReader.h"
#include "common/JsonWriter.h"
#include "status/StatusRedactor.h"

#include <QJsonObject>

namespace {
namespace Key {
const QString state = QStringLiteral("state");
const QString lastHeartbeat = QStringLiteral("lastHeartbeat");
const QString error = QStringLiteral("error");
} // namespace Key

using State = HelperStatus::State;

constexpr EnumTextTable stateTexts{
    std::pair{State::starting, u"starting"},
    std::pair{State::connected, u"connected"},
    std::pair{State::needsAttention, u"needsAttention"},
    std::pair{State::stopped, u"stopped"},
};

// Whole seconds in UTC with a trailing "Z": 2026-01-31T09:15:00Z. Qt::ISODate leaves out milliseconds.
QString isoText(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

// Qt::ISODate also accepts offsets, fractions and missing seconds; only the exact written form passes.
std::optional<QDateTime> dateFromIsoText(const QString &text)
{
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid() || isoText(date) != text)
        return std::nullopt;
    return date.toUTC();
}

State readState(JsonObjectReader &reader)
{
    const QString text = reader.string(Key::state);
    const auto state = stateTexts.value(text);
    if (!state)
        reader.reject(Key::state, QStringLiteral("is not a known state"));
    return state.value_or(State::stopped);
}

std::optional<QDateTime> readHeartbeat(JsonObjectReader &reader)
{
    const auto text = reader.optionalString(Key::lastHeartbeat);
    if (!text)
        return std::nullopt;
    const auto date = dateFromIsoText(*text);
    if (!date)
        reader.reject(Key::lastHeartbeat, QStringLiteral("is not an ISO 8601 date in UTC with whole seconds"));
    return date;
}

} // namespace

QString HelperStatus::rawValue(State state)
{
    return stateTexts.text(state);
}

HelperStatus::HelperStatus(State state, std::optional<QDateTime> lastHeartbeat, std::optional<QString> error)
    : m_state(state)
    , m_lastHeartbeat(lastHeartbeat && lastHeartbeat->isValid() ? std::move(lastHeartbeat) : std::nullopt)
    , m_error(error ? std::optional<QString>(StatusRedactor::redact(*error)) : std::nullopt)
{
}

QByteArray HelperStatus::encoded() const
{
    QJsonObject object{{Key::state, rawValue(m_state)}};
    if (m_lastHeartbeat)
        object.insert(Key::lastHeartbeat, isoText(*m_lastHeartbeat));
    if (m_error)
        object.insert(Key::error, *m_error);
    return JsonWriter::write(object, JsonWriter::Layout::compact);
}

Result<HelperStatus> HelperStatus::decode(const QByteArray &bytes)
{
    const auto object = JsonObjectReader::parse(bytes);
    if (!object)
        return failure(object.error());
    JsonObjectReader reader(*object);
    const State state = readState(reader);
    const std::optional<QDateTime> lastHeartbeat = readHeartbeat(reader);
    HelperStatus status(state, lastHeartbeat);
    status.m_error = reader.optionalString(Key::error); // taken as written, not redacted again
    return reader.result(std::move(status));
}
