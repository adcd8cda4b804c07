// The link's message format byte for byte, and what a stranger's bytes come to.

#include "link/LinkWire.h"

#include <gtest/gtest.h>

namespace talvora {
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(LinkWire, MessagesByteForByte) {
    const struct {
        const char* name;
        QByteArray encoded;
        const char* expected;
    } cases[] = {
        {"hello", encodeLinkMessage(LinkType::Hello, 0x0102030405060708, 0, encodeHello({0x7})),
         "544c5652"
         "01"
         "01"
         "0000"
         "0102030405060708"
         "0000000000000000"
         "00000007"},
        {"report",
         encodeLinkMessage(LinkType::Report, 1, 0xfffffffffffffffe,
                           encodeReport({2, 0x10203040, 300, 0xffffffff, 7})),
         "544c5652"
         "01"
         "02"
         "0000"
         "0000000000000001"
         "fffffffffffffffe"
         "00000002"
         "10203040"
         "0000012c"
         "ffffffff"
         "00000007"},
        {"hang-up", encodeLinkMessage(LinkType::HangUp, 5, 6),
         "544c5652"
         "01"
         "03"
         "0000"
         "0000000000000005"
         "0000000000000006"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.encoded.toHex(), hex(c.expected).toHex()) << c.name;
        const auto decoded = decodeLinkMessage(c.encoded);
        ASSERT_TRUE(decoded) << c.name;
        EXPECT_EQ(encodeLinkMessage(LinkType(decoded->header.type), decoded->header.fromTag,
                                    decoded->header.toTag, decoded->payload),
                  c.encoded)
            << c.name;
    }
    const auto report = decodeLinkMessage(cases[1].encoded);
    EXPECT_EQ(decodeReport(report->payload), (LinkReport{2, 0x10203040, 300, 0xffffffff, 7}));
    EXPECT_EQ(decodeHello(decodeLinkMessage(cases[0].encoded)->payload), LinkHello{7});
}

TEST(LinkWire, ForeignBytesAreNoMessage) {
    const QByteArray good = encodeLinkMessage(LinkType::HangUp, 5, 6);
    auto with = [&](int at, char byte) {
        QByteArray b = good;
        b[at] = byte;
        return b;
    };
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty", {}},
        {"one short of a header", good.left(23)},
        {"other magic", with(0, 't')},
        {"version 2", with(4, 2)},
        {"version 0", with(4, 0)},
        {"reserved byte set", with(7, 1)},
        {"no sender tag", encodeLinkMessage(LinkType::HangUp, 0, 6)},
        {"larger than any link message", good + QByteArray(kLinkMaxDatagramBytes, 'x')},
        {"a call request on the wrong port", QByteArray("Calling|Bob")},
        {"a JPEG", hex("ffd8ffe000104a46494600") + QByteArray(30, '\0')},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(decodeLinkMessage(c.bytes)) << c.name;
    }
    // An unknown type is a message (later versions add types); its payload is the rest.
    const auto unknown = decodeLinkMessage(with(5, char(200)) + "abc");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->header.type, 200);
    EXPECT_EQ(unknown->payload, "abc");
}

TEST(LinkWire, PayloadsOfTheWrongSizeAreRefused) {
    const QByteArray report = encodeReport({1, 2, 3, 4, 5});
    for (qsizetype size : {0, 4, 16, 19, 21, 64}) {
        const QByteArray payload = (report + QByteArray(64, '\0')).left(size);
        EXPECT_FALSE(decodeReport(payload)) << size;
        EXPECT_EQ(decodeHello(payload).has_value(), size == 4) << size;
    }
}

} // namespace
} // namespace talvora
