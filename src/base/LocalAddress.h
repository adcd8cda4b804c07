#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

namespace talvora {

// The local IPv4 address shown in the panel and used as the default caller ID: the last IPv4
// address the host name resolves to. Debian-like systems map the host name to 127.0.1.1, which
// no peer can call; when the lookup yields only loopback addresses, the first non-loopback IPv4
// address of an interface that is up is used instead. Empty when there is none.
QString chooseLocalAddress(const QList<QHostAddress>& hostNameAddresses, bool lookupSucceeded,
                           const QList<QHostAddress>& interfaceAddresses);

// Looks up the host name and the interfaces of this machine and applies the rule above.
QString GetLocalIPAddress();

} // namespace talvora
