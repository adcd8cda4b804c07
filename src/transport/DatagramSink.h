#pragma once

#include <QHostAddress>
#include <QString>
#include <QtGlobal>

namespace talvora {

// The largest UDP payload one IPv4 datagram can carry.
inline constexpr qsizetype kMaxDatagramBytes = 65507;

enum class DatagramSendStatus {
    Sent,
    TooLarge, // the system refused the datagram for its size
    Failed,   // any other failure (no route, buffer full, socket error); text in `error`
};

struct DatagramSendResult {
    DatagramSendStatus status = DatagramSendStatus::Failed;
    QString error;
};

// Where the video sender's datagrams go: a UDP socket in the phone, a recorder in tests.
class DatagramSink {
public:
    virtual ~DatagramSink() = default;

    virtual DatagramSendResult send(const uchar* data, qsizetype size, const QHostAddress& to,
                                    quint16 port) = 0;
};

} // namespace talvora
