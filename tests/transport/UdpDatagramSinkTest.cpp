#include "transport/UdpDatagramSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

namespace talvora {
namespace {

// A loopback receiver that reads each datagram with the type of service it arrived with.
class TosReceiver {
public:
    TosReceiver() : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        const int on = 1;
        const timeval second{1, 0};
        ::setsockopt(m_fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    }
    ~TosReceiver() { ::close(m_fd); }

    // The payload and its type of service (-1 when nothing came within a second).
    std::pair<QByteArray, int> next() {
        char data[2048];
        alignas(cmsghdr) char control[256];
        iovec io{data, sizeof data};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, 0);
        int tos = -1;
        for (cmsghdr* c = n < 0 ? nullptr : CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS)
                tos = *reinterpret_cast<const uchar*>(CMSG_DATA(c));
        }
        return {QByteArray(data, int(std::max<ssize_t>(n, 0))), tos};
    }

    quint16 port = 0;

private:
    int m_fd;
};

TEST(UdpDatagramSinkTest, PicturesLeaveMarkedAf41AndTooLargeOnesAreRefused) {
    TosReceiver receiver;
    const QHostAddress loopback(QStringLiteral("127.0.0.1"));
    // Both ways out: Qt's own send, and the one that sets the source address.
    for (const QHostAddress& source : {QHostAddress(), loopback}) {
        SCOPED_TRACE(source.toString().toStdString());
        UdpDatagramSink sink(NetworkConfig{loopback});
        sink.setSource(source);
        const QByteArray picture("\xFF\xD8 a picture \xFF\xD9");
        const DatagramSendResult sent = sink.send(reinterpret_cast<const uchar*>(picture.constData()),
                                                  picture.size(), loopback, receiver.port);
        EXPECT_EQ(sent.status, DatagramSendStatus::Sent);
        const auto [bytes, tos] = receiver.next();
        EXPECT_EQ(bytes, picture);
        EXPECT_EQ(tos, 0x88) << "DSCP 34, AF41";

        const QByteArray tooLarge(kMaxDatagramBytes + 1, 'x');
        EXPECT_EQ(sink.send(reinterpret_cast<const uchar*>(tooLarge.constData()), tooLarge.size(), loopback,
                            receiver.port)
                      .status,
                  DatagramSendStatus::TooLarge);
    }
}

} // namespace
} // namespace talvora
