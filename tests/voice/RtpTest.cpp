#include "voice/engine/Rtp.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvora::voice {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Rtp, WritesTheHeaderByteForByte) {
    RtpHeader header;
    header.marker = true;
    header.sequence = 0x1234;
    header.timestamp = 0xA1B2C3D4;
    header.ssrc = 0x01020304;
    const Bytes payload{0xFC, 0xFF, 0xFE};
    Bytes out(64);
    const std::size_t size = writeRtpPacket(header, payload, out);
    out.resize(size);
    EXPECT_EQ(out, (Bytes{0x80, 0x80 | 111, 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4, 0x01, 0x02, 0x03, 0x04, 0xFC,
                          0xFF, 0xFE}));
}

TEST(Rtp, RoundTripsEveryField) {
    RtpHeader header;
    header.marker = false;
    header.sequence = 65535;
    header.timestamp = 0xFFFFFFFF;
    header.ssrc = 0xDEADBEEF;
    Bytes payload(kMaxOpusPacketBytes, 0x5A);
    Bytes out(kMaxRtpDatagramBytes);
    const std::size_t size = writeRtpPacket(header, payload, out);
    ASSERT_EQ(size, kRtpHeaderBytes + kMaxOpusPacketBytes);
    const auto parsed = parseRtpPacket(std::span(out).first(size));
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->header.marker);
    EXPECT_EQ(parsed->header.sequence, 65535);
    EXPECT_EQ(parsed->header.timestamp, 0xFFFFFFFFu);
    EXPECT_EQ(parsed->header.ssrc, 0xDEADBEEFu);
    EXPECT_EQ(Bytes(parsed->payload.begin(), parsed->payload.end()), payload);
}

TEST(Rtp, WriterRefusesWhatCannotBeSent) {
    Bytes out(100);
    EXPECT_EQ(writeRtpPacket({}, {}, out), 0u);
    Bytes big(2000);
    EXPECT_EQ(writeRtpPacket({}, Bytes(kMaxOpusPacketBytes + 1, 1), big), 0u);
    EXPECT_EQ(writeRtpPacket({}, Bytes(89, 1), out), 0u); // 12 + 89 > 100
    EXPECT_EQ(writeRtpPacket({}, Bytes(88, 1), out), 100u);
}

TEST(Rtp, AcceptsCsrcExtensionAndPaddingWithinBounds) {
    // Version 2, padding, extension, two CSRCs; a 1-word extension; 3 payload bytes; 2 padding.
    const Bytes datagram{0xB2, 111,  0,    7, 0, 0, 0, 9, 0, 0, 0, 1, // header
                         1,    1,    1,    1, 2, 2, 2, 2,             // CSRCs
                         0xBE, 0xDE, 0,    1, 9, 9, 9, 9,             // extension
                         0xAA, 0xBB, 0xCC,                            // payload
                         0,    2};                                    // padding
    RtpParseError why = RtpParseError::TooShort;
    const auto parsed = parseRtpPacket(datagram, kOpusPayloadType, &why);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(why, RtpParseError::None);
    EXPECT_EQ(parsed->header.sequence, 7);
    EXPECT_EQ(Bytes(parsed->payload.begin(), parsed->payload.end()), (Bytes{0xAA, 0xBB, 0xCC}));
}

struct Malformed {
    const char* name;
    Bytes datagram;
    RtpParseError expected;
};

class RtpMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(RtpMalformed, IsRefusedWithItsReason) {
    RtpParseError why = RtpParseError::None;
    EXPECT_FALSE(parseRtpPacket(GetParam().datagram, kOpusPayloadType, &why));
    EXPECT_EQ(why, GetParam().expected);
}

const Bytes kHeader{0x80, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};

Bytes withHeader(Bytes head, Bytes rest) {
    head.insert(head.end(), rest.begin(), rest.end());
    return head;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RtpMalformed,
    ::testing::Values(
        Malformed{"Empty", {}, RtpParseError::TooShort},
        Malformed{"ElevenBytes", Bytes(kHeader.begin(), kHeader.end() - 1), RtpParseError::TooShort},
        Malformed{"Version1", withHeader({0x40, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1}),
                  RtpParseError::BadVersion},
        Malformed{"Version3", withHeader({0xC0, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1}),
                  RtpParseError::BadVersion},
        Malformed{"FifteenCsrcsMissing", withHeader({0x8F, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1, 2, 3}),
                  RtpParseError::CsrcOutOfBounds},
        Malformed{"ExtensionHeaderCut", withHeader({0x90, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {0xBE, 0xDE}),
                  RtpParseError::ExtensionOutOfBounds},
        Malformed{"ExtensionLengthHuge",
                  withHeader({0x90, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {0xBE, 0xDE, 0xFF, 0xFF, 1, 2, 3, 4}),
                  RtpParseError::ExtensionOutOfBounds},
        Malformed{"PaddingZero", withHeader({0xA0, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1, 2, 0}),
                  RtpParseError::BadPadding},
        Malformed{"PaddingIntoHeader", withHeader({0xA0, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1, 2, 200}),
                  RtpParseError::BadPadding},
        Malformed{"PaddingEatsAll", withHeader({0xA0, 111, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1, 2, 3}),
                  RtpParseError::EmptyPayload},
        Malformed{"OtherPayloadType", withHeader({0x80, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {1}),
                  RtpParseError::WrongPayloadType},
        Malformed{"HeaderOnly", kHeader, RtpParseError::EmptyPayload},
        Malformed{"PayloadAboveOpusMaximum", withHeader(kHeader, Bytes(kMaxOpusPacketBytes + 1, 7)),
                  RtpParseError::PayloadTooLarge}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace talvora::voice
