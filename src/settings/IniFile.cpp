#include "settings/IniFile.h"

#include "base/Error.h"
#include "base/TextEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <cctype>
#include <limits>

namespace talvora {

namespace {

// Longest value a read returns; longer values are cut.
constexpr qsizetype kMaxValueChars = 2047;

// Splits the file into lines at LF, CR LF or CR, remembering which ending the file uses so that
// a rewrite keeps it.
QList<QByteArray> splitLines(const QByteArray& data, QByteArray& ending) {
    QList<QByteArray> lines;
    ending = "\n";
    bool endingSeen = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '\n' && c != '\r') {
            continue;
        }
        lines.append(data.mid(start, i - start));
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
        lines.append(data.mid(start));
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

// Splits "key=value"; false for lines without "=" and comment lines.
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
    return true;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A value holds no line breaks in the file; a break would cut it and make a stray line.
QByteArray singleLine(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return encodeText(v);
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        return defaultValue;
    }
    QByteArray ending;
    const QList<QByteArray> lines = splitLines(file.readAll(), ending);
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
            return decodeText(v).left(kMaxValueChars);
        }
    }
    return defaultValue;
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

    QByteArray ending;
    QList<QByteArray> lines = splitLines(original, ending);
    const QByteArray newLine = encodeText(key) + '=' + singleLine(value);

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

    QByteArray out;
    for (const QByteArray& line : lines) {
        out += line;
        out += ending;
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
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
    for (QChar c : t) {
        const bool digit =
            base == 10 ? (c >= QLatin1Char('0') && c <= QLatin1Char('9')) : isxdigit(c.unicode()) != 0;
        if (c.unicode() > 127 || !digit) {
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
