#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// Reading of the kernel's IPv4 and IPv6 route tables (/proc/net/route, /proc/net/ipv6_route): whether a
// default route leads out through an interface that is up.
namespace RouteTable {

// Interfaces that carry a default route, from the text of /proc/net/route.
QSet<QString> defaultRouteInterfacesV4(const QByteArray &routeTable);
// The same from /proc/net/ipv6_route (the loopback's catch-all entry does not count).
QSet<QString> defaultRouteInterfacesV6(const QByteArray &routeTable);

// The live answer: a default route on an interface whose operational state is not "down".
bool hasUsableDefaultRoute();

} // namespace RouteTable
