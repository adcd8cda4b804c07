#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace talvora::voice {

// RTP (RFC 3550) carrying one Opus packet per datagram (RFC 7587). Our sender never uses CSRCs,
// header extensions or padding; the parser accepts them within their bounds, because they are
// legal RTP, and rejects anything that does not add up.
inline constexpr std::size_t kRtpHeaderBytes = 12;
// Dynamic payload type our engine uses for Opus on both sides.
inline constexpr std::uint8_t kOpusPayloadType = 111;
// The largest Opus packet (RFC 6716, section 3.2.1).
inline constexpr std::size_t kMaxOpusPacketBytes = 1275;
// Ethernet MTU-sized datagrams are all we ever need; bigger ones are refused before reading them.
inline constexpr std::size_t kMaxRtpDatagramBytes = 1500;

struct RtpHeader {
    bool marker = false;
    std::uint8_t payloadType = kOpusPayloadType;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t ssrc = 0;
};

// Why a datagram was refused; None when it was accepted.
enum class RtpParseError {
    None,
    TooShort,
    BadVersion,
    CsrcOutOfBounds,
    ExtensionOutOfBounds,
    BadPadding,
    WrongPayloadType,
    EmptyPayload,
    PayloadTooLarge,
};

struct RtpPacketView {
    RtpHeader header;
    std::span<const std::uint8_t> payload; // points into the datagram
};

// Writes a 12-byte header and the payload into `out`. Returns the datagram size, or 0 when the
// payload is empty, larger than an Opus packet, or `out` is too small.
std::size_t writeRtpPacket(const RtpHeader& header, std::span<const std::uint8_t> payload,
                           std::span<std::uint8_t> out);

// Parses a received datagram; only payload type `expectedPayloadType` is accepted. Never reads
// outside `datagram`.
std::optional<RtpPacketView> parseRtpPacket(std::span<const std::uint8_t> datagram,
                                            std::uint8_t expectedPayloadType = kOpusPayloadType,
                                            RtpParseError* why = nullptr);

} // namespace talvora::voice
