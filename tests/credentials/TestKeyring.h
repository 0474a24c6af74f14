#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// Direct access to the private session's gnome-keyring, bypassing the store under test: what items exist,
// raw secrets, and locking and unlocking the collections.
namespace TestKeyring {

using Attributes = QMap<QString, QString>;

// Every item with the credential's service and account, locked or not: its attributes and, when the item is
// unlocked, its secret bytes.
struct Item
{
    Attributes attributes;
    std::optional<QByteArray> secret;
};
QList<Item> credentialItems();

// Stores an item with exactly these bytes (need not be UTF-8) in the default collection.
bool storeRaw(const Attributes &attributes, const QByteArray &secret);

// Deletes every credential item; the collections must be unlocked.
bool deleteCredentialItems();

// The password the test session's keyring was started with (tests/with-keyring.sh).
QByteArray password();

bool lockAll();
// Unlocks the default collection with the password, without a prompt (gnome-keyring's own interface for
// this).
bool unlockDefault();
bool isDefaultLocked();
// Replaces the running gnome-keyring with a new daemon, unlocked, and waits until it owns the Secret Service.
bool restartDaemon();

Attributes credentialAttributes();

}
