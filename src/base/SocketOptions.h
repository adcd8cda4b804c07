#pragma once

class QAbstractSocket;

namespace talvora {

// Qt switches SO_BROADCAST on for every UDP socket it creates. The phone talks to one peer at a
// time, so a datagram to a broadcast address (x.y.z.255) must fail instead of reaching every
// phone on the segment. Call once the socket exists (after bind); a socket without a
// descriptor is left alone.
void disableBroadcast(QAbstractSocket& socket);

} // namespace talvora
