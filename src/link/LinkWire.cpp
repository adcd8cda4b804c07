#include "link/LinkWire.h"

#include <QtEndian>

#include <array>

namespace talvora {

namespace {

constexpr std::array<char, 4> kMagic{'T', 'L', 'V', 'R'};
constexpr qsizetype kHelloBytes = 4;
constexpr qsizetype kReportBytes = 20;

void appendBig32(QByteArray& out, quint32 value) {
    std::array<uchar, 4> bytes;
    qToBigEndian(value, bytes.data());
    out.append(reinterpret_cast<const char*>(bytes.data()), 4);
}

void appendBig64(QByteArray& out, quint64 value) {
    std::array<uchar, 8> bytes;
    qToBigEndian(value, bytes.data());
    out.append(reinterpret_cast<const char*>(bytes.data()), 8);
}

quint32 big32(QByteArrayView in, qsizetype at) {
    return qFromBigEndian<quint32>(in.data() + at);
}

quint64 big64(QByteArrayView in, qsizetype at) {
    return qFromBigEndian<quint64>(in.data() + at);
}

} // namespace

QByteArray encodeLinkMessage(LinkType type, quint64 fromTag, quint64 toTag, QByteArrayView payload) {
    QByteArray out;
    out.reserve(kLinkHeaderBytes + payload.size());
    out.append(kMagic.data(), qsizetype(kMagic.size()));
    out.append(char(kLinkVersion));
    out.append(char(type));
    out.append(2, '\0');
    appendBig64(out, fromTag);
    appendBig64(out, toTag);
    out.append(payload.data(), payload.size());
    return out;
}

std::optional<LinkMessage> decodeLinkMessage(QByteArrayView datagram) {
    if (datagram.size() < kLinkHeaderBytes || datagram.size() > kLinkMaxDatagramBytes) {
        return std::nullopt;
    }
    if (QByteArrayView(datagram.data(), 4) != QByteArrayView(kMagic.data(), 4) ||
        quint8(datagram[4]) != kLinkVersion || datagram[6] != 0 || datagram[7] != 0) {
        return std::nullopt;
    }
    LinkMessage message;
    message.header.type = quint8(datagram[5]);
    message.header.fromTag = big64(datagram, 8);
    message.header.toTag = big64(datagram, 16);
    if (message.header.fromTag == 0) {
        return std::nullopt;
    }
    message.payload = datagram.sliced(kLinkHeaderBytes).toByteArray();
    return message;
}

QByteArray encodeHello(const LinkHello& hello) {
    QByteArray out;
    appendBig32(out, hello.capabilities);
    return out;
}

std::optional<LinkHello> decodeHello(QByteArrayView payload) {
    if (payload.size() != kHelloBytes) {
        return std::nullopt;
    }
    return LinkHello{big32(payload, 0)};
}

QByteArray encodeReport(const LinkReport& report) {
    QByteArray out;
    out.reserve(kReportBytes);
    appendBig32(out, report.sequence);
    appendBig32(out, report.picturesReceived);
    appendBig32(out, report.voicePacketsHeard);
    appendBig32(out, report.voicePacketsExpected);
    appendBig32(out, report.picturesSent);
    return out;
}

std::optional<LinkReport> decodeReport(QByteArrayView payload) {
    if (payload.size() != kReportBytes) {
        return std::nullopt;
    }
    return LinkReport{big32(payload, 0), big32(payload, 4), big32(payload, 8), big32(payload, 12),
                      big32(payload, 16)};
}

} // namespace talvora
