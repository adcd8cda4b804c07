#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace talvora {

// "IPAddress.dat": plain text, one entry per line, no header. Each entry is written in
// Windows-1252 followed by CR LF; an entry that Windows-1252 cannot hold (or whose bytes would
// read back as other UTF-8 text) is written in UTF-8, which reading recognises line by line, so
// nothing typed is ever lost. An empty list is a file of 0 bytes. Reading ends a line at CR, LF or
// CR LF, keeps a last line without an ending, ends the text at a NUL byte, and takes a UTF-8 byte
// order mark off the start of the file (an editor may have put one there).
//
// A file far larger than an address book (a wrong file, or one grown by a fault) is read only as
// far as the limits below, so that the window stays responsive and memory bounded. They hold for
// writing too: the list (AddressBook) takes no entry that would make its file exceed them, so
// everything written reads back.
inline constexpr qsizetype kAddressBookMaxBytes = 1024 * 1024;
inline constexpr int kAddressBookMaxEntries = 10000;
// The longest line, in bytes of the file without its line ending: the longest entry there is.
inline constexpr qsizetype kAddressBookMaxLineBytes = 4096;
// What the entries may take together, each with its CR LF. A list whose first entry starts with
// U+FEFF is written after a byte order mark, which reading takes off again: its three bytes are
// kept free.
inline constexpr qsizetype kAddressBookByteOrderMarkBytes = 3;
inline constexpr qsizetype kAddressBookEntryBytes = kAddressBookMaxBytes - kAddressBookByteOrderMarkBytes;

// The entry as it is stored: CR, LF and NUL (which would end or cut its line) as blanks, and a
// lone surrogate (which has no bytes) as U+FFFD. Reading the file gives back exactly this text.
QString storableEntry(const QString& entry);
// What the stored entry takes in the file: its bytes, without the line ending.
qsizetype storedLineBytes(const QString& entry);

struct AddressBookText {
    QStringList entries;
    qsizetype bytesBeyondLimit = 0; // not read: past kAddressBookMaxBytes (or kAddressBookEntryBytes)
    int entriesBeyondLimit = 0;     // lines not read: past kAddressBookMaxEntries
    int longLinesSkipped = 0;       // lines over kAddressBookMaxLineBytes
    qsizetype bytesAfterNul = 0;    // data after the NUL that ends the text (trailing NULs aside)

    // True when every line of the file became an entry.
    bool whole() const {
        return bytesBeyondLimit == 0 && entriesBeyondLimit == 0 && longLinesSkipped == 0 &&
               bytesAfterNul == 0;
    }
};

// `bytes` is what was read; `fileSize` the size of the whole file (larger when reading stopped at
// the limit, and then the line that the limit cut is left out).
AddressBookText parseAddressBook(QByteArrayView bytes, qsizetype fileSize);
// The file's bytes: every entry as storableEntry, each followed by CR LF. The entries are meant
// to fit the limits above, as AddressBook keeps them; then the bytes read back whole.
QByteArray addressBookBytes(const QStringList& entries);

// What reading left out, for the error box; empty when the text was read whole.
QString describeSkipped(const QString& path, const AddressBookText& text);

struct AddressBookRead {
    enum class Status { Missing, Unreadable, Read };
    Status status = Status::Missing;
    AddressBookText text;
};

AddressBookRead readAddressBookFile(const QString& path);

// Replaces the file atomically (a new file renamed over the old one, with the old one's mode and
// owner), creating the directory and the file when they are missing. Where the directory does not
// let a new file be created but the file itself is writable, the file is rewritten in place.
// False when nothing could be written; the old file is then intact.
bool writeAddressBookFile(const QString& path, const QStringList& entries);

} // namespace talvora
