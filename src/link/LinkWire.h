#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

namespace talvora {

// The port on which two Talvora phones talk about what only they understand (reports of what
// arrived, hang-up, key agreement). Older phones never listen here, and nothing of it ever goes
// to their 6767, 8500 or 8800.
inline constexpr quint16 kLinkPort = 6768;

// Every datagram on the link port is one message, all integers big-endian:
//
//    0  4  magic "TLVR"
//    4  1  version, 1
//    5  1  message type (LinkType)
//    6  2  zero
//    8  8  the sender's tag for this call (random, never 0)
//   16  8  the receiver's tag as the sender last heard it; 0 until it has heard one
//   24  …  the type's payload, exactly as long as the type says
//
// The tags tie a message to one call: a message from an earlier call, or from someone who has
// not seen this call's hellos, carries the wrong pair and is dropped. A phone that cannot read
// a version or a type ignores the message, so later versions add types rather than change these.
inline constexpr qsizetype kLinkHeaderBytes = 24;
inline constexpr quint8 kLinkVersion = 1;
// Nothing on the link is larger; anything larger is not ours.
inline constexpr qsizetype kLinkMaxDatagramBytes = 1200;

enum class LinkType : quint8 {
    Hello = 1,  // "I am a Talvora phone in this call" (LinkHello)
    Report = 2, // once a second, what arrived from the peer (LinkReport)
    HangUp = 3, // the user ended the call (no payload)
    // 16 to 31: the key agreement of private calls
};

struct LinkHeader {
    quint8 type = 0; // a LinkType, or a type this phone does not know
    quint64 fromTag = 0;
    quint64 toTag = 0;
};

struct LinkMessage {
    LinkHeader header;
    QByteArray payload;
};

// What each phone says it can do, in its hello.
enum LinkCapability : quint32 {
    kLinkReports = 1u << 0,
    kLinkHangUp = 1u << 1,
    kLinkPrivateCalls = 1u << 2,
};

struct LinkHello {
    quint32 capabilities = 0;
    bool operator==(const LinkHello&) const = default;
};

// Counters since the call began at the reporting phone (they wrap at 2^32).
struct LinkReport {
    quint32 sequence = 0;             // counts reports, from 1
    quint32 picturesReceived = 0;     // pictures that arrived whole from the peer
    quint32 voicePacketsHeard = 0;    // voice packets that arrived
    quint32 voicePacketsExpected = 0; // the span of sequence numbers they cover
    quint32 picturesSent = 0;         // pictures that left for the peer
    bool operator==(const LinkReport&) const = default;
};

QByteArray encodeLinkMessage(LinkType type, quint64 fromTag, quint64 toTag, QByteArrayView payload = {});
// The header checked (magic, version, reserved bytes, a non-zero sender tag); the payload is the
// rest. Empty when the datagram is not a link message of this version.
std::optional<LinkMessage> decodeLinkMessage(QByteArrayView datagram);

QByteArray encodeHello(const LinkHello& hello);
QByteArray encodeReport(const LinkReport& report);
// Empty unless the payload has exactly the type's length.
std::optional<LinkHello> decodeHello(QByteArrayView payload);
std::optional<LinkReport> decodeReport(QByteArrayView payload);

} // namespace talvora
