#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace talvora::voice {

// An IPv4 UDP socket for the engine's threads (plain POSIX: the real-time paths must not touch
// Qt's event machinery). Addresses are in host byte order.
class UdpSocket {
public:
    // Binds `address`:`port` (port 0: any free port). Null on failure, with errno in *error.
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
