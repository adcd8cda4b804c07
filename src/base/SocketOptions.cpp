#include "base/SocketOptions.h"

#include <QAbstractSocket>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace talvora {

void disableBroadcast(QAbstractSocket& socket) {
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0) {
        return;
    }
    const int off = 0;
    ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_BROADCAST, &off, sizeof off);
}

long sendToFrom(int fd, const void* data, std::size_t size, std::uint32_t to, std::uint16_t port,
                std::uint32_t from) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = htonl(to);
    iovec payload{const_cast<void*>(data), size};
    // The source address travels beside the datagram (IP_PKTINFO): no allocation, no extra call.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    if (from != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(from);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

qint64 sendDatagramFrom(QAbstractSocket& socket, const QByteArray& payload, const QHostAddress& to,
                        quint16 port, const QHostAddress& from) {
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return sendToFrom(static_cast<int>(fd), payload.constData(), static_cast<std::size_t>(payload.size()),
                      to.toIPv4Address(), port, from.toIPv4Address());
}

} // namespace talvora
