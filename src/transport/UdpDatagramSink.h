#pragma once

#include "base/NetworkConfig.h"
#include "transport/DatagramSink.h"

#include <QUdpSocket>

#include <atomic>

namespace talvora {

// The IP type of service of picture datagrams: DSCP 34 (AF41, interactive video) in its upper
// six bits.
inline constexpr int kPictureTrafficClass = 34 << 2; // 0x88

// Sends datagrams from one UDP socket, marked kPictureTrafficClass. With a bind address
// (--bind) the socket is bound to it on an ephemeral port, so that pictures leave from the
// phone's own address; otherwise the system picks the source address for each destination.
// send() may run on another thread than the one that made the sink (the camera thread): it uses
// the socket's descriptor alone, and the source address is handed over atomically.
class UdpDatagramSink : public DatagramSink {
public:
    // Throws talvora::Error with the socket's text when the bind address cannot be bound.
    explicit UdpDatagramSink(const NetworkConfig& config);

    DatagramSendResult send(const uchar* data, qsizetype size, const QHostAddress& to, quint16 port) override;
    // The local address pictures leave from (the one the call came to); null: the routing
    // table's choice.
    void setSource(const QHostAddress& source) { m_source.store(source.toIPv4Address()); }

    QUdpSocket& socket() { return m_socket; }

private:
    QUdpSocket m_socket;
    std::atomic<quint32> m_source{0}; // IPv4, host order; 0: the routing table's choice
};

} // namespace talvora
