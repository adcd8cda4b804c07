#include "contacts/NetworkText.h"
#include "contacts/ContactEntry.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

namespace talvora {
namespace {

TEST(NetworkText, ControlsBecomeOneBlankBetweenWordsAndNothingAtTheEnds) {
    struct Case {
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"plain", "plain"},
        {QByteArray("\0a", 2), "a"},
        {"Bob\r\nMallory\r\n", "Bob Mallory"},
        {"a \x01\x02 b", "a   b"}, // the blanks that were there stay
        {"\t\x1b[31mred", "[31mred"},
        {"x\x7fy\xc2\x9fz", "x y z"},                    // DEL and C1 (UTF-8)
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
        {e126, 251, true, QString(124, QChar(0xE9)) + "…"}, // a caller ID in "cid=": 4 + 248 + 3 bytes
        {e126, 252, true, e126},
        {e126, 63, false, QString(31, QChar(0xE9))},
        {"ab" + smile, 5, false, "ab"},
        {"ab" + smile, 6, false, "ab" + smile},
        {accent + accent, 4, false, accent},
        {accent + accent, 5, true, "…"},
        {"abcdef", 2, true, ""}, // no room for the ellipsis itself
        {"", 0, true, ""},
    };
    for (const auto& c : cases) {
        const QString cut = cutToUtf8Bytes(c.text, c.maxBytes, c.ellipsis);
        EXPECT_EQ(cut, c.cut) << c.text.toStdString() << " " << c.maxBytes;
        EXPECT_LE(cut.toUtf8().size(), c.maxBytes);
    }
}

TEST(NetworkText, NamesKeepTheEntryFormAndOnlyHostNamesThatReadBackAreTaken) {
    EXPECT_EQ(networkContactName("<b>x</b>\r\n"), "‹b›x‹/b›");
    EXPECT_EQ(networkContactName(QString(300, 'n')).toUtf8().size(), kNetworkNameMaxBytes);
    struct Case {
        QString host;
        bool taken;
    } cases[] = {
        {"h1.local", true}, {"192.0.2.7", true},
        {"", true},         {"a b", true},
        {"a<b", false},     {"a>b", false},
        {"a\rb", false},    {QString(1, QChar(0)), false},
        {"a\u0085", false}, {QString(1, QChar(0xD800)), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hostReadsBack(c.host), c.taken) << c.host.toStdString();
    }
}

} // namespace
} // namespace talvora
