#pragma once

#include <QByteArray>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>

class QAbstractSocket;

namespace talvora {

// Qt switches SO_BROADCAST on for every UDP socket it creates. The phone talks to one peer at a
// time, so a datagram to a broadcast address (x.y.z.255) must fail instead of reaching every
// phone on the segment. Call once the socket exists (after bind); a socket without a
// descriptor is left alone.
void disableBroadcast(QAbstractSocket& socket);

// Sends one datagram over descriptor `fd` to `to`:`port` with `from` (unless 0; host byte order,
// one of this machine's IPv4 addresses) as its source address, whatever the routing table would
// choose: a reply leaves from the address the peer wrote to. Safe on a real-time thread (no
// allocation). Returns the bytes sent, or -1 with errno set.
long sendToFrom(int fd, const void* data, std::size_t size, std::uint32_t to, std::uint16_t port,
                std::uint32_t from);

// Sends one datagram from the socket with `from` as its source address (one of this machine's
// IPv4 addresses), whatever the routing table would choose: a reply leaves from the address the
// peer wrote to. Returns the bytes sent, or -1 with errno set.
qint64 sendDatagramFrom(QAbstractSocket& socket, const QByteArray& payload, const QHostAddress& to,
                        quint16 port, const QHostAddress& from);

} // namespace talvora
