#pragma once

#include "secure/IdentityKey.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace talvora {

// A peer whose code the user compared with the peer's user and marked verified.
struct VerifiedPeer {
    IdentityPublicKey key{};
    QDate verifiedOn;
    QString address; // where the peer was when it was verified (dotted IPv4)
    QString name;    // what the user knows it as (the caller ID, or what the user typed)
    bool operator==(const VerifiedPeer&) const = default;
};

inline const QString kVerifiedPeersFileName = QStringLiteral("VerifiedPeers.dat");

// "VerifiedPeers.dat", UTF-8 text, one line each, ended by LF (a record's CR LF is read too):
//
//   # a comment; blank lines are kept as they are
//   <identity key: 64 hex digits> TAB <date verified: YYYY-MM-DD> TAB <address> TAB <name>
//
// The name may be empty; tabs and line breaks in a name or address are written as spaces, and no
// field holds another control character. A line
// that is neither a comment nor a record is kept byte for byte, where it was, and named in the
// problems, so a file edited by hand loses nothing when the phone writes it again.
struct VerifiedPeersLine {
    std::optional<VerifiedPeer> peer; // a record; otherwise the line is `raw`
    QByteArray raw;                   // a comment, a blank line, or a line that is not understood
    bool operator==(const VerifiedPeersLine&) const = default;
};

struct VerifiedPeersText {
    QList<VerifiedPeersLine> lines;
    QStringList problems; // "line 3: the date is not a date of the form YYYY-MM-DD"
};

// A file larger than this is not a list of verified peers; it is left alone.
inline constexpr qsizetype kVerifiedPeersMaxBytes = 1024 * 1024;

VerifiedPeersText parseVerifiedPeers(QByteArrayView bytes);
QByteArray verifiedPeersBytes(const QList<VerifiedPeersLine>& lines);

// The verified peers of this phone, and their file. Main thread.
class VerifiedPeers {
public:
    explicit VerifiedPeers(QString path);

    // Reads the file (a missing file is an empty list). Returns the text for a message box when
    // the file could not be read or holds lines that are not records; empty when all is well. A
    // file that could not be read, or is too large, is never written over: peers verified
    // afterwards are remembered for this run only.
    QString load();

    enum class Match {
        Unknown,     // no verified peer has this key, and none was verified at this address
        Verified,    // a verified peer's key
        KeyMismatch, // a peer verified at this address had another key
    };
    struct Lookup {
        Match match = Match::Unknown;
        VerifiedPeer peer; // the record matched: of this key, or the one verified at the address
    };
    Lookup lookup(const IdentityPublicKey& key, const QString& address) const;

    // The users compared the code and found it the same: `peer` replaces any record of its key or
    // its address, and the file is written (through a symbolic link, to the file it names, and
    // so that a failure leaves the old file whole). False when the file could not be written,
    // with the message in `error`; the peer stays verified for this run.
    bool markVerified(const VerifiedPeer& peer, QString* error = nullptr);
    // Forgets the peer with this key (and writes the file, as above).
    bool forget(const IdentityPublicKey& key, QString* error = nullptr);

    QList<VerifiedPeer> peers() const;
    const QString& path() const { return m_path; }

private:
    bool save(QString* error);

    QString m_path;
    QList<VerifiedPeersLine> m_lines;
    QString m_unwritable; // why the file must not be written over; empty when it may
};

} // namespace talvora
