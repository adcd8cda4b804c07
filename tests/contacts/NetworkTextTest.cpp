#include "contacts/NetworkText.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(NetworkText, ControlsGoAndTheRestStays) {
    struct Case {
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"a \x01\x02 b", "a   b"},                       // the blanks that were there stay
        {"\t\x1b[31mred\x1b[0m", "[31mred [0m"},         // terminal escapes lose their ESC
        {"Jos\xe9\x85", "José…"},                        // Windows-1252: 0x85 is "…", no control
        {"\xc3\xa9\xe2\x80\xa8", "é\u2028"},             // a line separator is no control
        {"\xef\xbb\xbfx", QChar(0xFEFF) + QString("x")}, // nor is U+FEFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(networkText(c.bytes), c.text) << c.bytes.toHex(' ').constData();
    }
}

TEST(NetworkText, CutsBetweenCharactersWithTheEllipsisCounted) {
    const QString e126(126, QChar(0xE9));
    const QString smile = QString::fromUtf8("\xf0\x9f\x98\x80"); // 4 bytes, a surrogate pair
    const QString accent = QStringLiteral("e\u0301");            // a letter and its combining accent
    struct Case {
        QString text;
        qsizetype maxBytes;
        bool ellipsis;
        QString cut;
    } cases[] = {
        {e126, 251, true, QString(124, QChar(0xE9)) + "…"}, // a caller ID after "cid=": 4 + 248 + 3
        {e126, 252, true, e126},
        {"ab" + smile, 5, false, "ab"},
        {accent + accent, 4, false, accent},
        {accent + accent, 5, true, "…"},
        {"abcdef", 2, true, ""}, // no room for the ellipsis itself
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cutToUtf8Bytes(c.text, c.maxBytes, c.ellipsis), c.cut) << c.maxBytes;
    }
}

} // namespace
} // namespace talvora
