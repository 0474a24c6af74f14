#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// What the helper publishes about its runner. A status built here always holds redacted error text, and
// an invalid heartbeat date counts as none (it has no text form a reader would accept); a decoded status
// is taken as written.
class HelperStatus
{
public:
    enum class State { starting, connected, needsAttention, stopped };

    // The raw value names the state in the file ("needsAttention").
    static QString rawValue(State state);

    HelperStatus() = default;
    explicit HelperStatus(State state, std::optional<QDateTime> lastHeartbeat = std::nullopt,
                          std::optional<QString> error = std::nullopt);

    State state() const { return m_state; }
    const std::optional<QDateTime> &lastHeartbeat() const { return m_lastHeartbeat; }
    const std::optional<QString> &error() const { return m_error; }

    // Compact JSON, keys sorted, "/" written "\/", the heartbeat as ISO 8601 UTC whole seconds with "Z";
    // absent fields are left out.
    QByteArray encoded() const;
    // "state" is required and must be a known raw value; "lastHeartbeat" must be in the same ISO 8601
    // form. Failures are "JSONDecoding" errors.
    static Result<HelperStatus> decode(const QByteArray &bytes);

    friend bool operator==(const HelperStatus &, const HelperStatus &) = default;

private:
    State m_state = State::starting;
    std::optional<QDateTime> m_lastHeartbeat;
    std::optional<QString> m_error;
};
