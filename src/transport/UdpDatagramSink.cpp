#include "transport/UdpDatagramSink.h"

#include "base/SocketOptions.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/Error.h"

namespace talvora {

UdpDatagramSink::UdpDatagramSink(const NetworkConfig& config) {
    // Bound at once (to every address unless told otherwise), so that broadcast can be switched
    // off before the first picture leaves.
    if (!m_socket.bind(config.bindAddress, 0)) {
        throw Error(m_socket.errorString());
    }
    disableBroadcast(m_socket);
    // Wi-Fi access points queue what is marked AF41 with video, ahead of bulk traffic. A socket
    // that refuses the mark still sends, unmarked.
    const int tos = kPictureTrafficClass;
    ::setsockopt(int(m_socket.socketDescriptor()), IPPROTO_IP, IP_TOS, &tos, sizeof tos);
}

DatagramSendResult UdpDatagramSink::send(const uchar* data, qsizetype size, const QHostAddress& to,
                                         quint16 port) {
    bool isV4 = false;
    const quint32 toV4 = to.toIPv4Address(&isV4);
    if (!isV4) {
        return {DatagramSendStatus::Failed, QString::fromLocal8Bit(std::strerror(EAFNOSUPPORT))};
    }
    if (sendToFrom(int(m_socket.socketDescriptor()), data, std::size_t(size), toV4, port, m_source.load()) ==
        size) {
        return {DatagramSendStatus::Sent, {}};
    }
    const int err = errno;
    return {err == EMSGSIZE ? DatagramSendStatus::TooLarge : DatagramSendStatus::Failed,
            QString::fromLocal8Bit(std::strerror(err))};
}

} // namespace talvora
