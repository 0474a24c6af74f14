#pragma once

#include <QString>

// One browser sign-in attempt: the secret verifier, its SHA-256 challenge and the state that binds the
// callback to this attempt. Made by PairingSecurity::makeRequest and used for one attempt only.
struct PairingRequest
{
    QString verifier;
    QString challenge;
    QString state;

    friend bool operator==(const PairingRequest &, const PairingRequest &) = default;
};
