#include "PairingLedger.h"

#include "SecretTokens.h"

namespace {
constexpr int randomByteCount = 32;

// How long a connection page may stay open before its button no longer works.
constexpr std::chrono::seconds approvalWindow{30 * 60};

// Spent and expired codes are kept this much longer than their lifetime, so a late or repeated exchange
// is told what happened instead of hearing of an unknown code.
constexpr std::chrono::seconds grantMemory{60 * 60};

bool isOlderThan(const QDateTime &since, std::chrono::seconds age, const QDateTime &now)
{
    return since.msecsTo(now) >= std::chrono::milliseconds(age).count();
}
}

PairingLedger::PairingLedger(std::chrono::seconds codeLifetime)
    : m_codeLifetime(codeLifetime)
{
}

QString PairingLedger::open(const ConnectionRequest &request, const QDateTime &now)
{
    forgetStale(now);
    const QString connectionId = SecretTokens::random(randomByteCount);
    m_waiting.insert(connectionId, Waiting{request, now});
    return connectionId;
}

Checked<PairingLedger::Approval> PairingLedger::approve(const QString &connectionId, const QDateTime &now)
{
    forgetStale(now);
    const auto waiting = m_waiting.constFind(connectionId);
    if (waiting == m_waiting.cend())
        return refuse(
            404,
            QStringLiteral(
                "This connection request is unknown, already approved or too old. Start again from Tarnwick on your Mac."));
    const ConnectionRequest request = waiting->request;
    m_waiting.erase(waiting);

    const QString code = SecretTokens::random(randomByteCount);
    m_grants.insert(code, Grant{request, now});
    return Approval{request.state, code};
}

Checked<ConnectionRequest> PairingLedger::redeem(const QString &code, const QString &verifier, const QDateTime &now)
{
    forgetStale(now);
    const auto grant = m_grants.find(code);
    if (grant == m_grants.end())
        return refuse(400, QStringLiteral("The connection code is not valid."));
    if (grant->redeemed)
        return refuse(400, QStringLiteral("The connection code was already used."));
    if (isOlderThan(grant->issuedAt, m_codeLifetime, now))
        return refuse(400, QStringLiteral("The connection code has expired. Connect this Mac again."));
    if (SecretTokens::challengeFor(verifier) != grant->request.codeChallenge)
        return refuse(400, QStringLiteral("The verifier does not match this connection."));
    grant->redeemed = true;
    return grant->request;
}

void PairingLedger::forgetStale(const QDateTime &now)
{
    m_waiting.removeIf([&](const auto &entry) { return isOlderThan(entry.value().openedAt, approvalWindow, now); });
    m_grants.removeIf(
        [&](const auto &entry) { return isOlderThan(entry.value().issuedAt, m_codeLifetime + grantMemory, now); });
}
