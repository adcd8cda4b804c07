#pragma once

#include <QString>

namespace talvora {

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
