#pragma once

#include "base/DatagramGuard.h"

#include <atomic>
#include <cstdint>

namespace talvora::voice {

// The peer of a call: where the transmit direction sends, and the only address the receive
// direction accepts voice from. Written on the main thread while the voice threads read it; an
// address of 0 means nobody (nothing is sent, everything is refused).
struct PeerAddress {
    std::atomic<std::uint32_t> ipv4{0}; // host byte order
    std::atomic<std::uint16_t> port{0};
    // The local address voice leaves from (host byte order); 0 lets the routing table choose.
    std::atomic<std::uint32_t> source{0};
    // Seals what goes to the peer and opens what comes from it during a private call; null
    // passes datagrams as they are. Whoever sets it keeps it alive while the call's threads run.
    std::atomic<DatagramGuard*> guard{nullptr};

    void clear() {
        ipv4.store(0);
        port.store(0);
        source.store(0);
        guard.store(nullptr);
    }
};

} // namespace talvora::voice
