#pragma once

#include <QByteArray>
#include <QString>

namespace talvora {

// Replaces the contents of the file at `path` with `data` so that a failure at any point
// leaves the old contents as they were: the bytes go to a new file beside it, every one of
// them is checked (written, flushed to the disk, the size read back), the old file's mode and
// owner are given to the new one, and only then does it take the old one's place. A disk that
// fills up midway therefore costs nothing.
//
// A directory that refuses new files (read-only, sticky, not ours) but holds a writable file
// gets the file rewritten in place instead, checked the same way, and its old contents written
// back when the new ones do not fit. A file without any write permission bit counts as
// read-only even for root, and is refused. A symbolic link is written through: the file it
// names is replaced and the link stays. Returns false with the system's reason in `error` when
// the contents could not be replaced.
bool replaceFileContents(const QString& path, const QByteArray& data, QString* error = nullptr);

// Creates the file at `path` holding `data`, readable and writable by its owner only, without
// ever replacing a file that is there (another program may have made one meanwhile). The bytes go
// to a new file first, checked as above, which is then linked to the name: a crash or a full disk
// leaves no half-written file. Where the file system has no hard links (FAT), the file is created
// exclusively and written where it stands, and removed again if that fails. Returns 0, or the
// errno of the failure (EEXIST: the file is there now).
int createFileExclusively(const QString& path, const QByteArray& data);

} // namespace talvora
