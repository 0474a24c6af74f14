#pragma once

#include <QByteArray>
#include <QString>

// The random values and digests behind codes, credentials and the proof-key check.
namespace SecretTokens {
// byteCount bytes from the system's secure random source, in base64url without padding.
QString random(int byteCount);

// The S256 challenge of a proof-key verifier: base64url without padding of SHA-256 of its UTF-8 bytes.
QString challengeFor(const QString &verifier);

// What the service remembers of a credential, so that the token itself is never kept.
QByteArray fingerprint(const QString &token);

// Exactly `length` characters from A–Z, a–z, 0–9, "_" and "-".
bool isBase64Url(const QString &text, qsizetype length);
}
