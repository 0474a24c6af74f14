#pragma once

#include <QByteArray>
#include <QString>

// The name people gave this computer: the pretty host name of /etc/machine-info, else the host name.
// Empty when neither is known.
namespace HostName {

QString localizedName();

// PRETTY_HOSTNAME from the text of a machine-info file (an environment-style file, values optionally
// quoted); empty when it has none.
QString prettyHostName(const QByteArray &machineInfo);

} // namespace HostName
