#pragma once

#include "ConnectionRequest.h"
#include "Refusal.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <chrono>

// The pairing half of the service's memory: connection requests waiting for the user's approval, and the
// one-time codes handed out for them until they are exchanged. Every rule takes `now`, so it never reads
// a clock of its own.
class PairingLedger
{
public:
    // What an approval hands back to the browser's callback.
    struct Approval
    {
        QString state;
        QString code;
    };

    explicit PairingLedger(std::chrono::seconds codeLifetime);

    // Keeps a checked request until the user approves it; answers the identifier the approval names.
    QString open(const ConnectionRequest &request, const QDateTime &now);

    // Approves a waiting request once and issues its code.
    Checked<Approval> approve(const QString &connectionId, const QDateTime &now);

    // Redeems a code: known, unused, younger than the code lifetime, and issued for the challenge that
    // this verifier answers. Answers the request the code was issued for. A wrong verifier leaves the
    // code as it was, so a stray attempt cannot spoil the rightful owner's exchange.
    Checked<ConnectionRequest> redeem(const QString &code, const QString &verifier, const QDateTime &now);

private:
    struct Waiting
    {
        ConnectionRequest request;
        QDateTime openedAt;
    };
    struct Grant
    {
        ConnectionRequest request;
        QDateTime issuedAt;
        bool redeemed = false;
    };

    void forgetStale(const QDateTime &now);

    std::chrono::seconds m_codeLifetime;
    QHash<QString, Waiting> m_waiting;
    QHash<QString, Grant> m_grants;
};
