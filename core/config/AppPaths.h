#pragma once

#include <QString>

// The one directory where Tarnwick keeps its files, and the two files in it. Every call works the paths
// out afresh from the environment ($XDG_DATA_HOME, else ~/.local/share) and never touches the disk: the
// stores create the directory when they write.
namespace AppPaths {

// Absolute path of the "Tarnwick" directory, without a trailing slash.
QString applicationSupportDirectory();
// Absolute path of config.json in that directory.
QString config();
// Absolute path of status.json in that directory.
QString status();

} // namespace AppPaths
