#include "RouteTable.h"

#include <QFile>
#include <QList>

namespace {

constexpr unsigned routeUp = 0x1;

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool interfaceIsUp(const QString &name)
{
    const QByteArray state = readProcFile(QStringLiteral("/sys/class/net/%1/operstate").arg(name)).trimmed();
    // Virtual links often report "unknown" while passing traffic; only "down" is taken at its word.
    return !state.isEmpty() && state != "down" && state != "lowerlayerdown" && state != "notpresent";
}

} // namespace

namespace RouteTable {

QSet<QString> defaultRouteInterfacesV4(const QByteArray &routeTable)
{
    QSet<QString> interfaces;
    const QList<QByteArray> lines = routeTable.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 8)
            continue;
        bool okFlags = false;
        const unsigned flags = fields.at(3).toUInt(&okFlags, 16);
        const bool isDefault = fields.at(1) == "00000000" && fields.at(7) == "00000000";
        if (okFlags && isDefault && (flags & routeUp))
            interfaces.insert(QString::fromLatin1(fields.at(0)));
    }
    return interfaces;
}

QSet<QString> defaultRouteInterfacesV6(const QByteArray &routeTable)
{
    QSet<QString> interfaces;
    for (const QByteArray &line : routeTable.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 10)
            continue;
        bool okFlags = false;
        const unsigned flags = fields.at(8).toUInt(&okFlags, 16);
        const bool isDefault = fields.at(0) == QByteArray(32, '0') && fields.at(1) == "00";
        const QString name = QString::fromLatin1(fields.at(9));
        if (okFlags && isDefault && (flags & routeUp) && name != QLatin1String("lo"))
            interfaces.insert(name);
    }
    return interfaces;
}

bool hasUsableDefaultRoute()
{
    QSet<QString> interfaces = defaultRouteInterfacesV4(readProcFile(QStringLiteral("/proc/net/route")));
    interfaces.unite(defaultRouteInterfacesV6(readProcFile(QStringLiteral("/proc/net/ipv6_route"))));
    for (const QString &name : std::as_const(interfaces)) {
        if (interfaceIsUp(name))
            return true;
    }
    return false;
}

} // namespace RouteTable
