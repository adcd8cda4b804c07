#include "voice/engine/UdpSocket.h"

#include "base/SocketOptions.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvora::voice {

std::unique_ptr<UdpSocket> UdpSocket::bind(std::uint32_t address, std::uint16_t port, int* error) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) {
            *error = errno;
        }
        return nullptr;
    }
    // A network that ignores or rewrites the mark still carries the voice: the result is not
    // a reason to refuse the call.
    const int tos = kVoiceTypeOfService;
    ::setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        if (error) {
            *error = errno;
        }
        ::close(fd);
        return nullptr;
    }
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return std::unique_ptr<UdpSocket>(new UdpSocket(fd, ntohs(local.sin_port)));
}

UdpSocket::~UdpSocket() {
    ::close(m_fd);
}

bool UdpSocket::sendTo(std::span<const std::uint8_t> datagram, std::uint32_t address, std::uint16_t port,
                       std::uint32_t source) {
    return sendToFrom(m_fd, datagram.data(), datagram.size(), address, port, source) ==
           static_cast<long>(datagram.size());
}

UdpSocket::Received UdpSocket::receive(std::span<std::uint8_t> buffer, int timeoutMs) {
    Received result;
    pollfd pfd{m_fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready <= 0) {
        result.error = ready < 0 && errno != EINTR;
        return result;
    }
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC makes the kernel report the datagram's real length, so an oversized one is seen
    // as such instead of being parsed cut short.
    const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
        result.error = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNREFUSED;
        return result;
    }
    result.arrived = true;
    result.truncated = static_cast<std::size_t>(n) > buffer.size();
    result.bytes = result.truncated ? buffer.size() : static_cast<std::size_t>(n);
    result.address = ntohl(from.sin_addr.s_addr);
    result.port = ntohs(from.sin_port);
    return result;
}

} // namespace talvora::voice
