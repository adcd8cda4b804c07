#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace talvora::voice {

// Voice goes out marked Expedited Forwarding (DSCP 46, the TOS byte 0xb8): Wi-Fi access points put
// it in their voice queue, ahead of pictures and bulk traffic.
inline constexpr int kVoiceTypeOfService = 46 << 2;

// An IPv4 UDP socket for the engine's threads (plain POSIX: the real-time paths must not touch
// Qt's event machinery). Addresses are in host byte order.
class UdpSocket {
public:
    // Binds `address`:`port` (port 0: any free port), its datagrams marked kVoiceTypeOfService.
    // Null on failure, with errno in *error.
    static std::unique_ptr<UdpSocket> bind(std::uint32_t address, std::uint16_t port, int* error = nullptr);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    std::uint16_t localPort() const { return m_port; }

    // `source` (host byte order), unless 0, is the local address the datagram leaves from.
    bool sendTo(std::span<const std::uint8_t> datagram, std::uint32_t address, std::uint16_t port,
                std::uint32_t source = 0);

    struct Received {
        bool arrived = false; // false: nothing within the time-out
        std::size_t bytes = 0;
        bool truncated = false; // the datagram was longer than the buffer (and is refused)
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        bool error = false;
    };
    // Waits at most `timeoutMs` for one datagram.
    Received receive(std::span<std::uint8_t> buffer, int timeoutMs);

private:
    explicit UdpSocket(int fd, std::uint16_t port) : m_fd(fd), m_port(port) {}
    int m_fd;
    std::uint16_t m_port;
};

} // namespace talvora::voice
