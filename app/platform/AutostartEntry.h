#pragma once

#include <QByteArray>
#include <QString>

// The XDG autostart entry that starts the helper at login.
namespace AutostartEntry {

// $XDG_CONFIG_HOME/autostart/<identifier>.desktop, else ~/.config/autostart/….
QString path(const QString &identifier);

// The entry's text for the helper at `executable`.
QByteArray contents(const QString &executable);

// Whether the user switched the entry off in the desktop's startup settings: Hidden=true, or one of the
// desktops' "…-Autostart-enabled=false" / "…-autostart-enabled=false" keys, in the [Desktop Entry] group.
bool isSwitchedOff(const QByteArray &entry);

} // namespace AutostartEntry
