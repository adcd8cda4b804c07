#include "settings/IniFile.h"

#include "base/Error.h"
#include "base/FileWrite.h"
#include "base/TextEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <limits>

namespace talvora {

namespace {

// A file saved by an editor that marks UTF-8 starts with these bytes; they are no part of the
// first line (which is usually the section header).
const QByteArray kUtf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

QByteArrayView withoutBom(QByteArrayView data, bool* hadBom = nullptr) {
    const bool bom = data.startsWith(kUtf8Bom);
    if (hadBom != nullptr) {
        *hadBom = bom;
    }
    return bom ? data.sliced(kUtf8Bom.size()) : data;
}

// Splits the file into lines at LF, CR LF or CR, remembering which ending the file uses so that
// a rewrite keeps it.
QList<QByteArray> splitLines(QByteArrayView data, QByteArray& ending) {
    QList<QByteArray> lines;
    ending = "\n";
    bool endingSeen = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '\n' && c != '\r') {
            continue;
        }
        lines.append(data.sliced(start, i - start).toByteArray());
        const bool crlf = c == '\r' && i + 1 < data.size() && data[i + 1] == '\n';
        if (!endingSeen) {
            ending = crlf ? QByteArray("\r\n") : QByteArray(1, c);
            endingSeen = true;
        }
        if (crlf) {
            ++i;
        }
        start = i + 1;
    }
    if (start < data.size()) {
        lines.append(data.sliced(start).toByteArray());
    }
    return lines;
}

// "[name]" with optional blanks around; returns the name, or a null string for other lines.
QString sectionName(const QByteArray& line) {
    const QByteArray t = line.trimmed();
    if (t.size() >= 2 && t.front() == '[') {
        const qsizetype close = t.indexOf(']');
        if (close > 0) {
            return decodeText(t.mid(1, close - 1)).trimmed();
        }
    }
    return {};
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// Blanks as QByteArray::trimmed() takes them off.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool quoted(const QByteArray& v) {
    return v.size() >= 2 && isQuote(v.front()) && v.back() == v.front();
}

// Splits "key=value"; false for lines without "=" and comment lines. The value is without the
// blanks around it and without one pair of quotes around that.
bool splitKeyValue(const QByteArray& line, QString& key, QByteArray& value) {
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.front() == ';' || t.front() == '[') {
        return false;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) {
        return false;
    }
    key = decodeText(line.left(eq)).trimmed();
    value = line.mid(eq + 1).trimmed();
    if (quoted(value)) {
        value = value.mid(1, value.size() - 2);
    }
    return true;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// At most `n` UTF-16 units, never half of a surrogate pair.
QString leftChars(const QString& text, qsizetype n) {
    if (text.size() <= n) {
        return text;
    }
    return text.left(n > 0 && text.at(n - 1).isHighSurrogate() ? n - 1 : n);
}

// The value's bytes on its line: quoted where reading would otherwise take off its blanks or
// its own quotes.
QByteArray valueBytes(const QString& value) {
    const QByteArray v = encodeText(storedIniValue(value));
    if (!v.isEmpty() && (isBlank(v.front()) || isBlank(v.back()) || quoted(v))) {
        return '"' + v + '"';
    }
    return v;
}

} // namespace

QString storedIniValue(const QString& value) {
    // A line break would cut the value and make a stray line; a lone surrogate has no UTF-8.
    QString v = value;
    for (qsizetype i = 0; i < v.size(); ++i) {
        const QChar c = v.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            v[i] = QLatin1Char(' ');
        } else if (c.isHighSurrogate() && i + 1 < v.size() && v.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            v[i] = QChar::ReplacementCharacter;
        }
    }
    return leftChars(v, kIniMaxValueChars);
}

std::optional<QString> iniValue(QByteArrayView file, const QString& section, const QString& key) {
    QByteArray ending;
    const QList<QByteArray> lines = splitLines(withoutBom(file), ending);
    bool inSection = false;
    for (const QByteArray& line : lines) {
        const QString name = sectionName(line);
        if (!name.isNull()) {
            inSection = sameName(name, section);
            continue;
        }
        QString k;
        QByteArray v;
        if (inSection && splitKeyValue(line, k, v) && sameName(k, key)) {
            return leftChars(decodeText(v), kIniMaxValueChars);
        }
    }
    return std::nullopt;
}

QByteArray withIniValue(const QByteArray& file, const QString& section, const QString& key,
                        const QString& value) {
    bool hadBom = false;
    QByteArray ending;
    QList<QByteArray> lines = splitLines(withoutBom(file, &hadBom), ending);
    const QByteArray newLine = encodeText(key) + '=' + valueBytes(value);

    // Find the section, the key inside it, and the last non-empty line of the section.
    qsizetype sectionAt = -1;
    qsizetype keyAt = -1;
    qsizetype lastInSection = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = sectionName(lines[i]);
        if (!name.isNull()) {
            inSection = sectionAt < 0 && sameName(name, section);
            if (inSection) {
                sectionAt = i;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!lines[i].trimmed().isEmpty()) {
            lastInSection = i;
        }
        QString k;
        QByteArray v;
        if (keyAt < 0 && splitKeyValue(lines[i], k, v) && sameName(k, key)) {
            keyAt = i;
        }
    }

    if (keyAt >= 0) {
        lines[keyAt] = newLine;
    } else if (sectionAt >= 0) {
        lines.insert(lastInSection + 1, newLine);
    } else {
        if (!lines.isEmpty() && !lines.back().trimmed().isEmpty()) {
            lines.append(QByteArray());
        }
        lines.append('[' + encodeText(section) + ']');
        lines.append(newLine);
    }

    QByteArray out = hadBom ? kUtf8Bom : QByteArray();
    for (const QByteArray& line : lines) {
        out += line;
        out += ending;
    }
    return out;
}

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        return defaultValue;
    }
    return iniValue(file.readAll(), section, key).value_or(defaultValue);
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    const QString failure = QStringLiteral("Unable to write to %1").arg(m_path);

    QByteArray original;
    QFile existing(m_path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly) || !QFileInfo(m_path).isWritable()) {
            throw Error(failure);
        }
        original = existing.readAll();
        existing.close();
    }

    // Nothing changes on disk unless every byte got there: a full disk keeps the old file.
    if (!replaceFileContents(m_path, withIniValue(original, section, key, value))) {
        throw Error(failure);
    }
}

bool parseSettingsInteger(const QString& text, int& value) {
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.front() == QLatin1Char('-');
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
    } else if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t.remove(0, 1);
    }
    if (t.isEmpty()) {
        return false;
    }
    // Only ASCII digits count; the test is written out, since <cctype> is undefined for values
    // beyond unsigned char.
    for (const QChar q : t) {
        const char16_t c = q.unicode();
        const bool digit = (c >= u'0' && c <= u'9') ||
                           (base == 16 && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')));
        if (!digit) {
            return false;
        }
    }
    bool ok = false;
    const qlonglong magnitude = t.toLongLong(&ok, base);
    if (!ok) {
        return false;
    }
    const qlonglong v = negative ? -magnitude : magnitude;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

} // namespace talvora
