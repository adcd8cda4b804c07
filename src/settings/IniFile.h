#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace talvora {

// The longest value a read returns; the writer stores no more, so what it writes reads back.
inline constexpr qsizetype kIniMaxValueChars = 2047;

// The file's text as pure functions, which IniFile reads and writes through. Lines end at LF,
// CR LF or CR; a UTF-8 byte order mark at the start of the file is no part of the first line.
// A value is one line, the blanks around it are not part of it, and one pair of quotes (" or ')
// around it is taken off, as the profile files of Windows do; the writer quotes a value that would
// otherwise lose its blanks or its quotes.

// The value of section/key in `file`, at most kIniMaxValueChars; nothing when the section or the
// key is missing.
std::optional<QString> iniValue(QByteArrayView file, const QString& section, const QString& key);
// `file` with section/key set to `value` (as storedIniValue), the section and the key created
// when missing, every other line kept as it was and every line ending in the file's first ending.
QByteArray withIniValue(const QByteArray& file, const QString& section, const QString& key,
                        const QString& value);
// What reading gives back after writing `value`: line breaks as blanks, and at most
// kIniMaxValueChars (cut between two characters).
QString storedIniValue(const QString& value);

// A small INI file with the semantics the phone's settings need: sections and keys without
// regard to case, values read up to 2047 characters, defaults for missing keys, and writes that
// keep every other line of the file. Each call opens the file, reads or writes, and closes it.
// A write replaces the file atomically (temporary file in the same directory, then rename), so a
// failed write leaves the old file whole.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString& path() const { return m_path; }

    // The value of section/key, or `defaultValue` when the file, the section or the key is
    // missing. A key present with an empty value reads as empty.
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;

    // Writes section/key = value, creating the file and the section when they are missing.
    // Raises Error("Unable to write to <path>") when the file cannot be written.
    void writeString(const QString& section, const QString& key, const QString& value);

private:
    QString m_path;
};

// Integer conversions of settings values: decimal, or hexadecimal after "0x", "0X" or "$",
// with an optional sign; nothing else. Returns false for text that is not such an integer or
// does not fit 32 bits.
bool parseSettingsInteger(const QString& text, int& value);

} // namespace talvora
