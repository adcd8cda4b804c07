#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace talvora {

// Texts on the wire and in files are written as UTF-8. Reading accepts UTF-8 and falls back to
// Windows-1252 when the bytes are not valid UTF-8, so that texts from Windows peers and files
// copied from Windows read right. A leading U+FEFF is kept: only a file's reader takes a byte
// order mark off, at the start of the file.
QString decodeText(QByteArrayView bytes);
QByteArray encodeText(const QString& text);

// The text in Windows-1252, the single-byte code page of files shared with Windows; nothing when
// a character has no byte there.
std::optional<QByteArray> encodeWindows1252(const QString& text);

} // namespace talvora
