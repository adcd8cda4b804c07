#pragma once

#include "base/NetworkConfig.h"
#include "transport/DatagramSink.h"

#include <QUdpSocket>

namespace talvora {

// The IP type of service of picture datagrams: DSCP 34 (AF41, interactive video) in its upper
// six bits.
inline constexpr int kPictureTrafficClass = 34 << 2; // 0x88

// Sends datagrams from one UDP socket, marked kPictureTrafficClass. With a bind address
// (--bind) the socket is bound to it on an ephemeral port, so that pictures leave from the
// phone's own address; otherwise the system picks the source address for each destination.
class UdpDatagramSink : public DatagramSink {
public:
    // Throws talvora::Error with the socket's text when the bind address cannot be bound.
    explicit UdpDatagramSink(const NetworkConfig& config);

    DatagramSendResult send(const uchar* data, qsizetype size, const QHostAddress& to, quint16 port) override;
    // The local address pictures leave from (the one the call came to); null: the routing
    // table's choice.
    void setSource(const QHostAddress& source) { m_source = source; }

    QUdpSocket& socket() { return m_socket; }

private:
    QUdpSocket m_socket;
    QHostAddress m_source;
};

} // namespace talvora
