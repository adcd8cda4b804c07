#include "base/TextEncoding.h"

#include <gtest/gtest.h>

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
}

} // namespace
} // namespace talvora
