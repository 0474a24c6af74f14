#pragma once

#include "common/BuildInfo.h"
#include "common/Error.h"
#include "pairing/PairingRequest.h"
#include "pairing/PairingValidationError.h"

#include <QUrl>
#include <QUuid>

#include <optional>

// The security-bearing pieces of pairing: the attempt's random values, the connection page to open in the
// browser, and the check of the callback URL that comes back from it.
namespace PairingSecurity {

// The scheme of the callback URL; the desktop entry makes the setup application its handler.
inline const QString callbackScheme = QStringLiteral(TARNWICK_URL_SCHEME);

// A fresh verifier, its challenge and a state, each 43 characters of base64url. Fails only when the
// kernel's random source does.
Result<PairingRequest> makeRequest();

// The service's connection page for this attempt, or nothing when `base` cannot carry a path and query.
std::optional<QUrl> connectionURL(const QUrl &base, const PairingRequest &request, const QString &deviceName,
                                  const QString &appVersion, const std::optional<QString> &clientBuild,
                                  const std::optional<QUuid> &existingDeviceId);

// The one-time code of a callback URL that belongs to the attempt whose state is `expectedState`.
// Any tarnwick: URL may come from any program of the user, so the URL is treated as untrusted input.
std::expected<QString, PairingValidationError> validateCallback(const QUrl &url, const QString &expectedState);

// The S256 challenge of a verifier: base64url without padding of SHA-256 over its UTF-8 bytes.
QString challenge(const QString &verifier);

}
