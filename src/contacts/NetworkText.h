#pragma once

#include <QByteArrayView>
#include <QString>

namespace talvora {

// Text that a stranger announced, as the discovery takes it in: decoded as every text of ours
// (UTF-8, or Windows-1252 where the bytes are not UTF-8), with no control character left (C0,
// DEL, C1), so that no announcement can end or cut a line of a list or a file. A run of controls
// between other characters becomes one blank; at either end of the text it is dropped.
QString networkText(QByteArrayView bytes);
QString withoutControls(const QString& text);

// The longest start of `text` whose UTF-8 takes at most `maxBytes`, cut between two characters
// as a reader sees them (never inside a surrogate pair, nor between a letter and its accent).
// With `ellipsis`, a text that had to be cut ends in "…", whose three bytes count in `maxBytes`.
QString cutToUtf8Bytes(const QString& text, qsizetype maxBytes, bool ellipsis);

} // namespace talvora
