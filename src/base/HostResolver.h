#pragma once

#include <QHostAddress>
#include <QString>

namespace talvora {

// Resolves a peer address the way every datagram sender does, anew for every send: "LOCALHOST"
// in any letter case is 127.0.0.1, a dotted IPv4 address is used unchanged, any other name is
// looked up with the system resolver and its first IPv4 address is used. Failure raises an
// Error carrying the resolver's text.
QHostAddress resolveIPv4(const QString& host);

} // namespace talvora
