#pragma once

#include <QHostAddress>
#include <QtGlobal>

namespace talvora {

// The phone's fixed UDP ports: signalling, video pictures and voice.
inline constexpr quint16 kSignalPort = 6767;
inline constexpr quint16 kVideoPort = 8800;
inline constexpr quint16 kVoicePort = 8500;

// Where the phone's sockets live. By default they bind every local IPv4 address; with --bind
// ADDRESS they bind that one address and send from it, so that several phones share a machine.
struct NetworkConfig {
    QHostAddress bindAddress = QHostAddress(QHostAddress::AnyIPv4);
    // With --older-phone the phone leaves UDP 6768 alone and calls as older phones do: no
    // reports, no hang-up message, no encryption. For trying a call against an older peer.
    bool linkPort = true;

    bool isBound() const { return bindAddress != QHostAddress(QHostAddress::AnyIPv4); }
};

} // namespace talvora
