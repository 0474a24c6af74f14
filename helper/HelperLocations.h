#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Where the helper finds the rest of Tarnwick, and how it notices a changed file. Both functions hold no
// state and may be called from any thread.
namespace HelperLocations {

// The helper's own bundle, TarnwickHelper.app: two levels above the directory of the running executable
// (Contents/MacOS/TarnwickHelper).
QString helperBundle();

// The main application bundle, Tarnwick.app: $TWK_MAIN_APP_BUNDLE when it is set and not empty, taken as
// it is (neither checked nor normalised); otherwise the helper's bundle with four components removed,
// since the helper sits at Tarnwick.app/Contents/Library/LoginItems/TarnwickHelper.app.
QString mainAppBundle();

// The last-modification time of the item at `path` itself (a symlink is not followed), in UTC, or absent
// when it cannot be read for any reason.
std::optional<QDateTime> modificationDate(const QString &path);

} // namespace HelperLocations
