#include "AutostartEntry.h"

#include "common/DesktopExecArgument.h"

#include <QList>
#include <QStandardPaths>

namespace {

bool isTrue(QByteArrayView value)
{
    return value == "true" || value == "1";
}

bool isFalse(QByteArrayView value)
{
    return value == "false" || value == "0";
}

} // namespace

namespace AutostartEntry {

QString path(const QString &identifier)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
           + identifier + QStringLiteral(".desktop");
}

QByteArray contents(const QString &executable)
{
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Tarnwick\n"
                             "Comment=Keeps this computer ready to take calls\n"
                             "Exec=")
           + quotedExecArgument(executable).toUtf8()
           + QByteArrayLiteral("\n"
                               "Icon=com.tarnwick.Tarnwick\n"
                               "Terminal=false\n"
                               "NoDisplay=true\n"
                               "X-GNOME-Autostart-enabled=true\n");
}

bool isSwitchedOff(const QByteArray &entry)
{
    bool inMainGroup = false;
    for (const QByteArray &rawLine : entry.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || line.startsWith('#') || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed().toLower();
        if (key == "Hidden" && isTrue(value))
            return true;
        if (key.toLower().endsWith("-autostart-enabled") && isFalse(value))
            return true;
    }
    return false;
}

} // namespace AutostartEntry
