#pragma once

#include <QString>

// Files that live only as long as the user's session: they go under $XDG_RUNTIME_DIR, private to the user
// and emptied at log-out. Without a usable runtime directory they fall back to the shared temporary
// directory, with the user id in the name so that users do not meet.
namespace RuntimeFile {

// "$XDG_RUNTIME_DIR/<stem>.<extension>", else "<temp>/<stem>-<uid>.<extension>".
QString path(const QString &stem, const QString &extension);

} // namespace RuntimeFile
