#include "base/TextEncoding.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(TextEncoding, Utf8FirstThenWindows1252) {
    struct Case {
        QByteArray bytes;
        const char* text;
    } cases[] = {
        {"plain", "plain"},
        {"Jos\xc3\xa9", "José"}, // valid UTF-8
        {"Jos\xe9", "José"},     // Windows-1252 from a Windows peer
        {"\x80 \x93quoted\x94", "€ “quoted”"},
        {"\x81", "\xc2\x81"}, // unassigned code: the C1 control of the same value
        {QByteArray("a\0b", 3), "a\0b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeText(c.bytes), QString::fromUtf8(c.text, c.bytes == QByteArray("a\0b", 3) ? 3 : -1));
    }
    EXPECT_EQ(encodeText(QString::fromUtf8("€")), QByteArray("\xe2\x82\xac"));
    // U+FEFF is text like any other; only a file's reader takes a byte order mark off.
    EXPECT_EQ(decodeText("\xef\xbb\xbfx"), QString(QChar(0xFEFF)) + "x");
}

TEST(TextEncoding, Windows1252EncodesWhatItCanAndRefusesTheRest) {
    struct Case {
        const char* text;
        std::optional<QByteArray> bytes;
    } cases[] = {
        {"plain", QByteArray("plain")},
        {"José", QByteArray("Jos\xe9")},
        {"€ “quoted” Ÿ", QByteArray("\x80 \x93quoted\x94 \x9f")},
        {"\xc2\x81", QByteArray("\x81")}, // the C1 control that stands for an unassigned code
        {"Łukasz", std::nullopt},         // not in the code page
        {"日本", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encodeWindows1252(QString::fromUtf8(c.text)), c.bytes) << c.text;
    }
    // Every byte decodes to a character that encodes back to the same byte.
    for (int b = 0x80; b < 0x100; ++b) {
        const QByteArray one(1, char(b));
        EXPECT_EQ(encodeWindows1252(decodeText(one)), one) << b;
    }
}

} // namespace
} // namespace talvora
