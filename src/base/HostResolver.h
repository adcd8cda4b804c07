#pragma once

#include <QHostAddress>
#include <QString>

#include <functional>
#include <optional>

namespace talvora {

// Resolves a peer address the way every datagram sender does, anew for every send: "LOCALHOST"
// in any letter case is 127.0.0.1, a dotted IPv4 address is used unchanged, any other name is
// looked up with the system resolver and its first IPv4 address is used. Failure raises an
// Error carrying the resolver's text.
QHostAddress resolveIPv4(const QString& host);

// A second way to find a name that the system resolver does not know, such as a ".local" name
// answered by multicast DNS on a system without nss-mdns. The program sets it once at start,
// before any lookup runs; it may be called from any thread that resolves.
using HostLookupFallback = std::function<std::optional<QHostAddress>(const QString& host)>;
void setHostLookupFallback(HostLookupFallback fallback);

} // namespace talvora
