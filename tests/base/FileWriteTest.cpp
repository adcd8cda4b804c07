#include "base/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include "support/QtPrinters.h"

#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvora {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(ReplaceFileContents, KeepsTheModeAndLeavesNoTemporaryFile) {
    const struct {
        mode_t mode;
        bool ok;
    } cases[] = {{0644, true}, {0600, true}, {0640, true}, {0444, false}, {0400, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("Settings.ini");
        writeAll(path, "old");
        ::chmod(QFile::encodeName(path).constData(), c.mode);
        QString error;
        // A file without write bits stays read-only even for root.
        EXPECT_EQ(replaceFileContents(path, "new contents", &error), c.ok);
        EXPECT_EQ(readAll(path), c.ok ? QByteArray("new contents") : QByteArray("old"));
        EXPECT_EQ(modeOf(path), c.mode);
        EXPECT_EQ(error.isEmpty(), c.ok);
        EXPECT_EQ(entries(dir.path()), QStringList{"Settings.ini"});
    }
}

TEST(ReplaceFileContents, ANewFileTakesTheUsualModeAndAnEmptyTextEmptiesAFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("IPAddress.dat");
    ASSERT_TRUE(replaceFileContents(path, "x\r\n"));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(path), 0666 & ~mask);
    ASSERT_TRUE(replaceFileContents(path, {}));
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST(ReplaceFileContents, KeepsTheOwnerWhenRootWrites) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the file another owner";
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("Settings.ini");
    writeAll(path, "old");
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    ASSERT_TRUE(replaceFileContents(path, "new"));
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
}

// A user's writable file in a directory that takes no new files is rewritten in place.
TEST(ReplaceFileContents, WritableFileInAReadOnlyDirectoryIsRewrittenInPlace) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("Settings.ini");
    writeAll(path, "a longer old text");
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755); // root's: no new files for others
    QString error;
    bool ok = false;
    {
        // The file-system uid is this thread's alone: root's privilege is gone only here.
        const int oldUid = ::setfsuid(65534);
        ok = replaceFileContents(path, "short", &error);
        ::setfsuid(oldUid);
    }
    EXPECT_TRUE(ok) << error.toStdString();
    EXPECT_EQ(readAll(path), "short");
}

// A full disk: the write fails with the system's reason and the old file is whole.
TEST(ReplaceFileContents, AFullDiskKeepsTheOldFile) {
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::geteuid() != 0 || ::mount("none", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "needs root to mount a small file system";
    }
    const QString path = dir.filePath("Settings.ini");
    const QByteArray old = QByteArray("[Settings]\r\nmicVolume=85\r\n").repeated(100);
    writeAll(path, old);
    {
        QFile fill(dir.filePath("fill"));
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size() && fill.flush()) {
        }
    }
    QString error;
    EXPECT_FALSE(replaceFileContents(path, old + "CallerID=Bob\r\n", &error));
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ENOSPC)));
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(entries(dir.path()), (QStringList{"fill", "Settings.ini"}));
    ::umount(mountPoint.constData());
}

// A link stays a link and the file it names gets the text (the user keeps the real file in a
// synchronised folder); a read-only file is refused and stays as it was.
TEST(ReplaceFileContents, WritesThroughLinksAndRefusesReadOnlyFiles) {
    QTemporaryDir dir;
    const QString target = dir.filePath("real/Settings.ini");
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    const struct {
        const char* name;
        bool targetExists;
        mode_t mode;
        bool ok;
        QByteArray targetAfter;
    } cases[] = {
        {"link to a file", true, 0644, true, "new"},
        {"link to a file not there yet", false, 0644, true, "new"},
        {"link to a read-only file", true, 0444, false, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(target);
        QFile::remove(dir.filePath("Settings.ini"));
        if (c.targetExists) {
            writeAll(target, "old");
            ::chmod(QFile::encodeName(target).constData(), c.mode);
        }
        ASSERT_TRUE(QFile::link(QStringLiteral("real/Settings.ini"), dir.filePath("Settings.ini")));
        QString error;
        EXPECT_EQ(replaceFileContents(dir.filePath("Settings.ini"), "new", &error), c.ok)
            << error.toStdString();
        EXPECT_TRUE(QFileInfo(dir.filePath("Settings.ini")).isSymLink());
        EXPECT_EQ(readAll(target), c.targetAfter);
        EXPECT_EQ(modeOf(target), c.mode);
        EXPECT_EQ(entries(dir.path()), (QStringList{"real", "Settings.ini"}));
    }
}

// Written over in place, a text that does not fit the full disk leaves the old one, not a mix.
TEST(ReplaceFileContents, InPlaceOnAFullDiskPutsTheOldTextBack) {
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::geteuid() != 0 || ::mount("none", mountPoint.constData(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
        GTEST_SKIP() << "needs root to mount a small file system";
    }
    const QString path = dir.filePath("IPAddress.dat");
    const QByteArray old = QByteArray("Anna <anna.local>\r\n").repeated(200);
    writeAll(path, old);
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    {
        QFile fill(dir.filePath("fill"));
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size() && fill.flush()) {
        }
    }
    QString error;
    bool ok = true;
    {
        const int oldUid = ::setfsuid(65534); // no new files in root's directory: in place
        ok = replaceFileContents(path, QByteArray("Bob <bob.local>\r\n").repeated(2000), &error);
        ::setfsuid(oldUid);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ENOSPC)));
    EXPECT_EQ(readAll(path), old);
    ::umount(mountPoint.constData());
}

} // namespace
} // namespace talvora
