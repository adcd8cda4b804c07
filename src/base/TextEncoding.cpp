#include "base/TextEncoding.h"

#include <QStringDecoder>

#include <algorithm>
#include <iterator>

namespace talvora {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five unassigned codes map to the
// C1 controls of the same value, as Windows' own converter does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString decodeCp1252(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b)));
    }
    return out;
}

} // namespace

QString decodeText(QByteArrayView bytes) {
    // A leading U+FEFF is part of the text: a file's byte order mark is its reader's business,
    // and a text that starts with the character must read back with it.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (!utf8.hasError()) {
        return text;
    }
    return decodeCp1252(bytes);
}

QByteArray encodeText(const QString& text) {
    return text.toUtf8();
}

std::optional<QByteArray> encodeWindows1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.append(char(u));
            continue;
        }
        const char16_t* const end = std::end(kCp1252High);
        const char16_t* const at = std::find(std::begin(kCp1252High), end, u);
        if (at == end) {
            return std::nullopt;
        }
        out.append(char(0x80 + (at - std::begin(kCp1252High))));
    }
    return out;
}

} // namespace talvora
