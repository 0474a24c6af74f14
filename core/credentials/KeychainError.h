#pragma once

#include "common/Error.h"

#include <QString>

#include <cstdint>

// A failure of the device-credential store. `unexpectedStatus` carries a keychain status number; the Secret
// Service's failures are mapped onto the classic numbers below so the fixed texts stay meaningful.
class KeychainError
{
public:
    enum class Case { unexpectedStatus, invalidData };

    // Statuses the Secret Service store reports.
    static constexpr std::int32_t serviceUnavailable = -25291;    // no Secret Service on the session bus
    static constexpr std::int32_t interactionNotAllowed = -25308; // collection locked and not unlockable now
    static constexpr std::int32_t unlockDismissed = -25293;       // the user dismissed the unlock prompt
    static constexpr std::int32_t otherFailure = -25299;          // anything else the Secret Service refused

    // Errors converted from a KeychainError carry this domain.
    static QString domain();

    static KeychainError unexpectedStatus(std::int32_t status);
    static KeychainError invalidData();

    Case kind() const { return m_kind; }
    // The keychain status of `unexpectedStatus`; 0 for `invalidData`.
    std::int32_t status() const { return m_status; }

    // "Keychain access failed (-25308)." or "The saved device credential is invalid."
    QString description() const;

    // Domain "KeychainError"; the code is the status for `unexpectedStatus` and `invalidDataCode` for
    // `invalidData`; the description is the fixed text.
    Error toError() const;
    static constexpr int invalidDataCode = 1;

    friend bool operator==(const KeychainError &, const KeychainError &) = default;

private:
    KeychainError(Case kind, std::int32_t status);

    Case m_kind;
    std::int32_t m_status;
};
