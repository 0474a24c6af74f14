#pragma once

#include "LocalState.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>

// `tarnwick status`: whether this computer can take calls, judged from the local state at `now` by the
// same freshness rule as the window, as lines for a terminal or one JSON object for a script. Every text
// taken from a file passes the status redactor.
class StatusReport
{
public:
    StatusReport(const LocalState &state, const QDateTime &now);

    // Paired, the helper connected with a fresh heartbeat and, when the keyring was asked, the credential
    // stored.
    bool isReady() const;
    // 0 when ready, 1 otherwise.
    int exitStatus() const { return isReady() ? 0 : 1; }

    QStringList lines() const;
    QJsonObject json() const;

private:
    bool isPaired() const;
    bool isFresh() const;
    std::optional<qint64> heartbeatAge() const;

    QString pairedLine() const;
    QString helperLine() const;
    QString credentialLine() const;

    LocalState m_state;
    QDateTime m_now;
};
