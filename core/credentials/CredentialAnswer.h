#pragma once

#include "CredentialReading.h"

#include <QByteArray>

#include <optional>

// How the credential reader's answer crosses from its process to the helper's: one compact JSON object on
// the reader's standard output, {"credential": "…"} or {"credential": null} with exit status `answered`,
// {"error": {"domain": "…", "code": n, "description": "…"}} with exit status `notRead`.
namespace CredentialAnswer {

inline constexpr int answered = 0;
inline constexpr int notRead = 1;

QByteArray encode(const CredentialReading::Answer &answer);
int exitStatus(const CredentialReading::Answer &answer);
// The answer the reader gave, or nullopt when what it printed, with that exit status, is not one.
std::optional<CredentialReading::Answer> decode(const QByteArray &output, int exitStatus);

}
