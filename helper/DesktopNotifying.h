#pragma once

#include <QString>

// Tells the user something outside the tray, which some desktops do not show: one notice at a time.
class DesktopNotifying
{
public:
    virtual ~DesktopNotifying() = default;

    // Shows the notice, in place of the one shown before if that is still out.
    virtual void show(const QString &summary, const QString &body) = 0;
    // Takes the notice back, if one is out.
    virtual void withdraw() = 0;
};
