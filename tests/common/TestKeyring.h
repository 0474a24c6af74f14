#pragma once

#include <QByteArray>
#include <QList>

// Direct access to the private session's gnome-keyring, bypassing the store under test.
namespace TestKeyring {

// The password tests/with-keyring.sh starts gnome-keyring with.
inline constexpr char sessionPassword[] = "tarnwick-test";

// The secret of every item with the credential's service and account, or "<locked>" for a locked one.
QList<QByteArray> credentialSecrets();
// Stores an item with the credential's attributes and exactly these bytes (need not be UTF-8).
bool storeRaw(const QByteArray &secret);
// Deletes every credential item; the collections must be unlocked.
bool deleteCredentialItems();

bool lockAll();
// Unlocks the default collection with the session's password, without a prompt (by restarting the daemon
// when it is locked).
bool unlockDefault();
bool isDefaultLocked();
// Replaces the running gnome-keyring with a new one, unlocked with the session's password. It inherits this
// process's environment.
bool restartDaemon();

}
