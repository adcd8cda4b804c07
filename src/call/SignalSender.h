#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace talvora {

// Sends one signalling datagram to port 6767 of a peer, given as "LOCALHOST" or a dotted address
// (the call session looks names up before). A failure to send raises an Error carrying the
// socket's text.
class SignalSender {
public:
    virtual ~SignalSender() = default;
    virtual void send(const QString& host, const QByteArray& payload) = 0;
    // The local address `peer`'s datagrams arrived on, where replies and media leave from; null
    // when unknown or when the phone is bound to one address anyway.
    virtual QHostAddress localAddressFor(const QHostAddress& peer) const {
        (void)peer;
        return {};
    }
};

// The four reactions to a received signalling datagram, after classification. `sender` is the
// datagram's source address as dotted text; replies always go to port 6767 of that address.
class SignalHandler {
public:
    virtual ~SignalHandler() = default;
    virtual void callRequestReceived(const QString& callerId, const QString& sender) = 0;
    virtual void acceptReceived(const QString& sender) = 0;
    virtual void cancelReceived(const QString& sender) = 0;
    virtual void statusTextReceived(const QString& text) = 0;
};

} // namespace talvora
