#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace talvora::voice::test {

// A bad network between two phones, in the test process: it sits on its own loopback address,
// both phones send to it, and it forwards each datagram to the other phone after a random delay,
// or twice, or not at all. A seeded generator makes every run the same draw.
class ImpairmentRelay {
public:
    struct Impairment {
        double lossRate = 0.0; // share of loss events; each drops 1 or 2 packets (bursts)
        int baseDelayMs = 0;
        int jitterMs = 0;           // each packet is delayed by base + uniform(-jitter, +jitter)
        double duplicateRate = 0.0; // share of packets sent twice
    };

    // Listens on relayAddress:port and forwards between a and b (host byte order addresses).
    ImpairmentRelay(std::uint32_t relayAddress, std::uint32_t a, std::uint32_t b, std::uint16_t port,
                    std::uint32_t seed);
    ~ImpairmentRelay();

    // Takes effect for the next datagram. Off by default.
    void setImpairment(const Impairment& impairment);
    std::uint64_t forwarded() const { return m_forwarded.load(); }
    std::uint64_t dropped() const { return m_dropped.load(); }

private:
    void run();

    int m_fd = -1;
    std::uint32_t m_a;
    std::uint32_t m_b;
    std::uint16_t m_port;
    std::uint32_t m_seed;
    std::atomic<double> m_lossRate{0};
    std::atomic<int> m_baseDelayMs{0};
    std::atomic<int> m_jitterMs{0};
    std::atomic<double> m_duplicateRate{0};
    std::atomic<bool> m_running{true};
    std::atomic<std::uint64_t> m_forwarded{0};
    std::atomic<std::uint64_t> m_dropped{0};
    std::thread m_thread;
};

inline std::uint32_t loopback(int last) {
    return 0x7F000000u | static_cast<std::uint32_t>(last);
}

} // namespace talvora::voice::test
