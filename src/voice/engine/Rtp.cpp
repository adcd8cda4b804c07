#include "voice/engine/Rtp.h"

namespace talvora::voice {

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t get32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

std::optional<RtpPacketView> refuse(RtpParseError* why, RtpParseError reason) {
    if (why) {
        *why = reason;
    }
    return std::nullopt;
}

} // namespace

std::size_t writeRtpPacket(const RtpHeader& header, std::span<const std::uint8_t> payload,
                           std::span<std::uint8_t> out) {
    if (payload.empty() || payload.size() > kMaxOpusPacketBytes ||
        out.size() < kRtpHeaderBytes + payload.size()) {
        return 0;
    }
    std::uint8_t* p = out.data();
    p[0] = 0x80; // version 2, no padding, no extension, no CSRC
    p[1] = static_cast<std::uint8_t>((header.marker ? 0x80 : 0x00) | (header.payloadType & 0x7f));
    put16(p + 2, header.sequence);
    put32(p + 4, header.timestamp);
    put32(p + 8, header.ssrc);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        p[kRtpHeaderBytes + i] = payload[i];
    }
    return kRtpHeaderBytes + payload.size();
}

std::optional<RtpPacketView> parseRtpPacket(std::span<const std::uint8_t> datagram,
                                            std::uint8_t expectedPayloadType, RtpParseError* why) {
    const std::size_t size = datagram.size();
    if (size < kRtpHeaderBytes) {
        return refuse(why, RtpParseError::TooShort);
    }
    const std::uint8_t* p = datagram.data();
    if ((p[0] >> 6) != 2) {
        return refuse(why, RtpParseError::BadVersion);
    }
    const bool padding = (p[0] & 0x20) != 0;
    const bool extension = (p[0] & 0x10) != 0;
    const std::size_t csrcCount = p[0] & 0x0f;

    std::size_t offset = kRtpHeaderBytes + 4 * csrcCount;
    if (offset > size) {
        return refuse(why, RtpParseError::CsrcOutOfBounds);
    }
    if (extension) {
        if (size - offset < 4) {
            return refuse(why, RtpParseError::ExtensionOutOfBounds);
        }
        const std::size_t extensionBytes = 4 * std::size_t{get16(p + offset + 2)};
        if (size - offset - 4 < extensionBytes) {
            return refuse(why, RtpParseError::ExtensionOutOfBounds);
        }
        offset += 4 + extensionBytes;
    }
    std::size_t end = size;
    if (padding) {
        const std::size_t padBytes = p[size - 1];
        // The count includes itself, so 0 is malformed; it may not eat into the header.
        if (padBytes == 0 || padBytes > size - offset) {
            return refuse(why, RtpParseError::BadPadding);
        }
        end -= padBytes;
    }
    const std::uint8_t payloadType = p[1] & 0x7f;
    if (payloadType != expectedPayloadType) {
        return refuse(why, RtpParseError::WrongPayloadType);
    }
    if (end == offset) {
        return refuse(why, RtpParseError::EmptyPayload);
    }
    if (end - offset > kMaxOpusPacketBytes) {
        return refuse(why, RtpParseError::PayloadTooLarge);
    }
    RtpPacketView view;
    view.header.marker = (p[1] & 0x80) != 0;
    view.header.payloadType = payloadType;
    view.header.sequence = get16(p + 2);
    view.header.timestamp = get32(p + 4);
    view.header.ssrc = get32(p + 8);
    view.payload = datagram.subspan(offset, end - offset);
    if (why) {
        *why = RtpParseError::None;
    }
    return view;
}

} // namespace talvora::voice
