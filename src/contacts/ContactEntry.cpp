#include "contacts/ContactEntry.h"

#include "contacts/NetworkText.h"

#include <algorithm>

namespace talvora {

QString contactEntry(const QString& name, const QString& address) {
    return name + QStringLiteral(" <") + address + QLatin1Char('>');
}

QString hailingAddress(const QString& entry) {
    const qsizetype open = entry.indexOf(QLatin1Char('<'));
    if (open < 0) {
        return entry;
    }
    // With "<" as the last character there is nothing after it to take.
    const qsizetype length = entry.size() - open - 2;
    return length > 0 ? entry.mid(open + 1, length) : QString();
}

QString listedHost(const QString& entry) {
    const qsizetype open = entry.indexOf(QLatin1Char('<'));
    const qsizetype close = entry.indexOf(QLatin1Char('>'));
    if (close < 0) {
        return {};
    }
    if (open < 0) {
        return entry.left(close);
    }
    if (close < open) {
        return {};
    }
    return entry.mid(open + 1, close - open - 1);
}

bool entryLess(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

QString networkContactName(const QString& name) {
    QString clean = withoutControls(name);
    clean.replace(QLatin1Char('<'), QChar(0x2039));
    clean.replace(QLatin1Char('>'), QChar(0x203A));
    return cutToUtf8Bytes(clean, kNetworkNameMaxBytes, true);
}

bool hostReadsBack(const QString& host) {
    return host.isValidUtf16() && withoutControls(host) == host &&
           std::none_of(host.cbegin(), host.cend(),
                        [](QChar c) { return c == QLatin1Char('<') || c == QLatin1Char('>'); });
}

} // namespace talvora
