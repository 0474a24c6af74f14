#include "HostName.h"

#include <QFile>
#include <QList>
#include <QSysInfo>

namespace {

QString unquoted(QByteArray value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    QString text;
    bool escaped = false;
    for (const QChar c : QString::fromUtf8(value)) {
        if (!escaped && c == u'\\') {
            escaped = true;
            continue;
        }
        escaped = false;
        text += c;
    }
    return text.trimmed();
}

} // namespace

namespace HostName {

QString prettyHostName(const QByteArray &machineInfo)
{
    for (const QByteArray &line : machineInfo.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("PRETTY_HOSTNAME="))
            return unquoted(trimmed.mid(int(sizeof("PRETTY_HOSTNAME=") - 1)));
    }
    return {};
}

QString localizedName()
{
    QFile machineInfo(QStringLiteral("/etc/machine-info"));
    if (machineInfo.open(QIODevice::ReadOnly)) {
        const QString pretty = prettyHostName(machineInfo.readAll());
        if (!pretty.isEmpty())
            return pretty;
    }
    return QSysInfo::machineHostName();
}

} // namespace HostName
