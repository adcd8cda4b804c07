#include "contacts/NetworkText.h"

#include "base/TextEncoding.h"

#include <QTextBoundaryFinder>

namespace talvora {

namespace {

bool isControl(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

const QString kEllipsis = QStringLiteral("…");

} // namespace

QString withoutControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool gap = false;
    for (const QChar c : text) {
        if (isControl(c)) {
            gap = !out.isEmpty();
            continue;
        }
        if (gap) {
            out.append(QLatin1Char(' '));
            gap = false;
        }
        out.append(c);
    }
    return out;
}

QString networkText(QByteArrayView bytes) {
    return withoutControls(decodeText(bytes));
}

QString cutToUtf8Bytes(const QString& text, qsizetype maxBytes, bool ellipsis) {
    if (text.toUtf8().size() <= maxBytes) {
        return text;
    }
    const qsizetype room = ellipsis ? maxBytes - kEllipsis.toUtf8().size() : maxBytes;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype fits = 0;
    qsizetype bytes = 0;
    for (qsizetype at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary()) {
        bytes += QStringView(text).sliced(fits, at - fits).toUtf8().size();
        if (bytes > room) {
            break;
        }
        fits = at;
    }
    return ellipsis && room >= 0 ? text.left(fits) + kEllipsis : text.left(fits);
}

} // namespace talvora
