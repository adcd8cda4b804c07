#include "secure/VerifiedPeers.h"

#include "base/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace talvora {

namespace {

const QByteArray kHeader =
    QByteArrayLiteral("# Talvora Video Phone: peers whose code was compared and found the same.\n"
                      "# identity key<TAB>date verified<TAB>address<TAB>name\n");

// The longest chain of symbolic links followed to the file they name.
constexpr int kMaxLinks = 40;

QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// The record on `line`, or why it is not one.
std::optional<VerifiedPeer> parseRecord(QByteArrayView line, QString& why) {
    for (const char c : line) {
        if ((uchar(c) < 0x20 && c != '\t') || c == 0x7f) {
            why = QStringLiteral("it holds control characters");
            return std::nullopt;
        }
    }
    const QList<QByteArray> fields = line.toByteArray().split('\t');
    if (fields.size() != 4) {
        why = QStringLiteral("it has %1 fields separated by tabs, not 4").arg(fields.size());
        return std::nullopt;
    }
    VerifiedPeer peer;
    const std::optional<IdentityPublicKey> key = identityKeyFromHex(fields[0]);
    if (!key) {
        why = QStringLiteral("the identity key is not 64 hex digits");
        return std::nullopt;
    }
    peer.key = *key;
    peer.verifiedOn = QDate::fromString(QString::fromLatin1(fields[1]), Qt::ISODate);
    if (!peer.verifiedOn.isValid() || peer.verifiedOn.toString(Qt::ISODate).toLatin1() != fields[1]) {
        why = QStringLiteral("the date is not a date of the form YYYY-MM-DD");
        return std::nullopt;
    }
    const std::optional<QString> address = strictUtf8(fields[2]);
    const std::optional<QString> name = strictUtf8(fields[3]);
    if (!address || !name) {
        why = QStringLiteral("it is not UTF-8 text");
        return std::nullopt;
    }
    if (address->trimmed().isEmpty()) {
        why = QStringLiteral("the address is empty");
        return std::nullopt;
    }
    peer.address = *address;
    peer.name = *name;
    return peer;
}

// Where writing `path` must go: the file a chain of symbolic links ends at, so that the link
// stays a link (a user who keeps the file elsewhere, say in a synchronised folder, keeps it there).
QString writeTarget(const QString& path) {
    QString target = path;
    for (int i = 0; i < kMaxLinks && QFileInfo(target).isSymLink(); ++i) {
        target = QFileInfo(target).symLinkTarget();
    }
    return target;
}

} // namespace

VerifiedPeersText parseVerifiedPeers(QByteArrayView bytes) {
    VerifiedPeersText out;
    qsizetype pos = 0;
    int number = 0;
    while (pos < bytes.size()) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\n') {
            ++end;
        }
        const QByteArrayView line = bytes.sliced(pos, end - pos);
        pos = end + 1;
        ++number;
        // A record's line may end in CR LF; any other line is kept byte for byte, CR and all.
        const QByteArrayView content = line.endsWith('\r') ? line.first(line.size() - 1) : line;
        if (content.trimmed().isEmpty() || content.startsWith('#')) {
            out.lines.append({std::nullopt, line.toByteArray()});
            continue;
        }
        QString why;
        if (std::optional<VerifiedPeer> peer = parseRecord(content, why)) {
            out.lines.append({std::move(peer), {}});
        } else {
            out.lines.append({std::nullopt, line.toByteArray()});
            out.problems << QStringLiteral("line %1: %2").arg(number).arg(why);
        }
    }
    return out;
}

QByteArray verifiedPeersBytes(const QList<VerifiedPeersLine>& lines) {
    QByteArray out;
    for (const VerifiedPeersLine& line : lines) {
        if (line.peer) {
            const VerifiedPeer& p = *line.peer;
            out += identityKeyHex(p.key).toLatin1() + '\t' + p.verifiedOn.toString(Qt::ISODate).toLatin1() +
                   '\t' + oneLine(p.address).toUtf8() + '\t' + oneLine(p.name).toUtf8();
        } else {
            out += line.raw;
        }
        out += '\n';
    }
    return out;
}

VerifiedPeers::VerifiedPeers(QString path) : m_path(std::move(path)) {}

QString VerifiedPeers::load() {
    m_lines.clear();
    m_unwritable.clear();
    const QString shown = QDir::toNativeSeparators(m_path);
    const QFileInfo info(m_path);
    if (!info.exists()) {
        return {};
    }
    QFile file(m_path);
    QByteArray bytes;
    if (!info.isDir() && file.open(QIODevice::ReadOnly)) {
        bytes = file.read(kVerifiedPeersMaxBytes + 1);
    }
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        m_unwritable = QStringLiteral("it could not be read");
        return QStringLiteral("The list of verified peers %1 could not be read (%2). No peer counts as "
                              "verified, and peers verified now are remembered until the phone closes")
            .arg(shown, info.isDir() ? QStringLiteral("it is a folder") : file.errorString());
    }
    if (bytes.size() > kVerifiedPeersMaxBytes) {
        m_unwritable = QStringLiteral("it is too large to be a list of verified peers");
        return QStringLiteral("The list of verified peers %1 is larger than %2 bytes, so it is not read and "
                              "is left as it is. No peer counts as verified, and peers verified now are "
                              "remembered until the phone closes")
            .arg(shown)
            .arg(kVerifiedPeersMaxBytes);
    }
    VerifiedPeersText text = parseVerifiedPeers(bytes);
    m_lines = std::move(text.lines);
    if (text.problems.isEmpty()) {
        return {};
    }
    return QStringLiteral("Some lines of the list of verified peers %1 are not peers and are kept as they "
                          "are: %2")
        .arg(shown, text.problems.join(QStringLiteral("; ")));
}

VerifiedPeers::Lookup VerifiedPeers::lookup(const IdentityPublicKey& key, const QString& address) const {
    Lookup atAddress;
    for (const VerifiedPeersLine& line : m_lines) {
        if (!line.peer) {
            continue;
        }
        if (line.peer->key == key) {
            return {Match::Verified, *line.peer};
        }
        if (atAddress.match == Match::Unknown && !address.isEmpty() && line.peer->address == address) {
            atAddress = {Match::KeyMismatch, *line.peer};
        }
    }
    return atAddress;
}

bool VerifiedPeers::markVerified(const VerifiedPeer& peer, QString* error) {
    qsizetype at = -1;
    for (qsizetype i = m_lines.size() - 1; i >= 0; --i) {
        const std::optional<VerifiedPeer>& old = m_lines[i].peer;
        if (old && (old->key == peer.key || old->address == peer.address)) {
            m_lines.removeAt(i);
            at = i;
        }
    }
    VerifiedPeer record = peer;
    record.address = oneLine(record.address);
    record.name = oneLine(record.name);
    if (at >= 0) {
        m_lines.insert(at, {record, {}});
    } else {
        m_lines.append({record, {}});
    }
    return save(error);
}

bool VerifiedPeers::forget(const IdentityPublicKey& key, QString* error) {
    const qsizetype removed =
        m_lines.removeIf([&](const VerifiedPeersLine& line) { return line.peer && line.peer->key == key; });
    return removed == 0 || save(error);
}

QList<VerifiedPeer> VerifiedPeers::peers() const {
    QList<VerifiedPeer> out;
    for (const VerifiedPeersLine& line : m_lines) {
        if (line.peer) {
            out << *line.peer;
        }
    }
    return out;
}

bool VerifiedPeers::save(QString* error) {
    const QString shown = QDir::toNativeSeparators(m_path);
    QString why = m_unwritable;
    if (why.isEmpty()) {
        const QString target = writeTarget(m_path);
        QDir().mkpath(QFileInfo(target).absolutePath());
        const bool fresh = !QFileInfo::exists(target);
        if (replaceFileContents(target, (fresh ? kHeader : QByteArray()) + verifiedPeersBytes(m_lines),
                                &why)) {
            if (fresh) {
                // The header now heads the file: keep it there for the next write.
                const VerifiedPeersText header = parseVerifiedPeers(kHeader);
                m_lines = header.lines + m_lines;
            }
            return true;
        }
    }
    if (error != nullptr) {
        *error = QStringLiteral("The list of verified peers %1 could not be written (%2). The change holds "
                                "until the phone closes")
                     .arg(shown, why);
    }
    return false;
}

} // namespace talvora
