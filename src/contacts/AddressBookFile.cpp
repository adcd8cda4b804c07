#include "contacts/AddressBookFile.h"

#include "base/FileWrite.h"
#include "base/TextEncoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace talvora {

namespace {

const QByteArray kUtf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

QByteArray entryBytes(const QString& entry) {
    if (const std::optional<QByteArray> single = encodeWindows1252(entry)) {
        // Windows-1252 bytes that happen to form UTF-8 would read back as other characters.
        if (decodeText(*single) == entry) {
            return *single;
        }
    }
    return encodeText(entry);
}

} // namespace

QString storableEntry(const QString& entry) {
    QString out = entry;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0)) {
            out[i] = QLatin1Char(' ');
        } else if (c.isHighSurrogate() && i + 1 < out.size() && out.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            out[i] = QChar::ReplacementCharacter;
        }
    }
    return out;
}

qsizetype storedLineBytes(const QString& entry) {
    return entryBytes(storableEntry(entry)).size();
}

AddressBookText parseAddressBook(QByteArrayView bytes, qsizetype fileSize) {
    AddressBookText out;
    qsizetype end = bytes.size();
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
        end = nul;
        const QByteArrayView rest = bytes.sliced(nul);
        const bool onlyNuls = std::all_of(rest.begin(), rest.end(), [](char c) { return c == '\0'; });
        if (!onlyNuls || fileSize > bytes.size()) {
            out.bytesAfterNul = fileSize - nul;
        }
    } else if (fileSize > bytes.size()) {
        // The limit cut the last line: it is not read, nor anything after it.
        qsizetype lastEnd = end;
        while (lastEnd > 0 && !isLineEnd(bytes[lastEnd - 1])) {
            --lastEnd;
        }
        end = lastEnd;
        out.bytesBeyondLimit = fileSize - end;
    }

    qsizetype pos = bytes.first(end).startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    // Lines are counted as they will be written back, each with CR LF, so that a file read
    // whole is also written whole.
    qsizetype room = kAddressBookEntryBytes;
    while (pos < end) {
        qsizetype stop = pos;
        while (stop < end && !isLineEnd(bytes[stop])) {
            ++stop;
        }
        if (out.entries.size() >= kAddressBookMaxEntries) {
            ++out.entriesBeyondLimit;
        } else if (stop - pos > kAddressBookMaxLineBytes) {
            ++out.longLinesSkipped;
        } else if (stop - pos + 2 > room) {
            out.bytesBeyondLimit = fileSize - pos;
            break;
        } else {
            out.entries << decodeText(bytes.sliced(pos, stop - pos));
            room -= stop - pos + 2;
        }
        pos = stop;
        if (pos < end && bytes[pos] == '\r') {
            ++pos;
            if (pos < end && bytes[pos] == '\n') {
                ++pos;
            }
        } else if (pos < end) {
            ++pos; // LF
        }
    }
    return out;
}

QByteArray addressBookBytes(const QStringList& entries) {
    QByteArray out;
    for (const QString& entry : entries) {
        out += entryBytes(storableEntry(entry));
        out += "\r\n";
    }
    // Reading takes a byte order mark off the start of the file: a first entry that starts with
    // U+FEFF keeps it behind one.
    if (out.startsWith(kUtf8Bom)) {
        out.prepend(kUtf8Bom);
    }
    return out;
}

QString describeSkipped(const QString& path, const AddressBookText& text) {
    if (text.whole()) {
        return {};
    }
    QStringList parts;
    if (text.bytesBeyondLimit > 0) {
        parts << QStringLiteral("%1 bytes beyond the first %2 bytes")
                     .arg(text.bytesBeyondLimit)
                     .arg(kAddressBookMaxBytes);
    }
    if (text.entriesBeyondLimit > 0) {
        parts << QStringLiteral("%1 lines beyond the first %2 contacts")
                     .arg(text.entriesBeyondLimit)
                     .arg(kAddressBookMaxEntries);
    }
    if (text.longLinesSkipped > 0) {
        parts << QStringLiteral("%1 lines longer than %2 bytes")
                     .arg(text.longLinesSkipped)
                     .arg(kAddressBookMaxLineBytes);
    }
    if (text.bytesAfterNul > 0) {
        parts << QStringLiteral("%1 bytes from a NUL byte on").arg(text.bytesAfterNul);
    }
    return QStringLiteral("The address book %1 is not a plain list of contacts. Skipped: %2. "
                          "The file is kept as it is unless you change the list")
        .arg(QDir::toNativeSeparators(path), parts.join(QStringLiteral("; ")));
}

AddressBookRead readAddressBookFile(const QString& path) {
    AddressBookRead out;
    const QFileInfo info(path);
    if (!info.exists()) {
        return out;
    }
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        out.status = AddressBookRead::Status::Unreadable;
        return out;
    }
    // One byte more than the limit tells whether the file goes on, also for files whose size the
    // file system does not know in advance.
    const QByteArray bytes = file.read(kAddressBookMaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        out.status = AddressBookRead::Status::Unreadable;
        return out;
    }
    qsizetype size = bytes.size();
    if (size > kAddressBookMaxBytes) {
        size = std::max<qsizetype>(info.size(), size);
    }
    out.status = AddressBookRead::Status::Read;
    out.text =
        parseAddressBook(QByteArrayView(bytes).first(std::min(bytes.size(), kAddressBookMaxBytes)), size);
    return out;
}

bool writeAddressBookFile(const QString& path, const QStringList& entries) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // As the settings are written: whole or not at all, through a symbolic link, never over a
    // read-only file.
    return replaceFileContents(path, addressBookBytes(entries));
}

} // namespace talvora
