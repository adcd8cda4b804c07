#include "base/FileWrite.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvora {

namespace {

// Closes a descriptor it owns; a temporary file that never took the real one's place is removed.
class TempFile {
public:
    explicit TempFile(QByteArray pattern) : m_path(std::move(pattern)) {
        m_fd = ::mkstemp(m_path.data());
        m_created = m_fd >= 0;
    }
    ~TempFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (m_created && !m_renamed) {
            ::unlink(m_path.constData());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return m_fd; }
    const QByteArray& path() const { return m_path; }
    bool closeChecked() {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }
    void renamed() { m_renamed = true; }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_created = false;
    bool m_renamed = false;
};

bool fail(QString* error, int err) {
    if (error != nullptr) {
        *error = QString::fromLocal8Bit(std::strerror(err));
    }
    return false;
}

// Writes all of `data` at the current offset, then makes sure it is on the disk and that the
// file holds exactly that many bytes. Returns 0 or the errno of the first failure.
int writeAllChecked(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        p += n;
        left -= n;
    }
    if (::ftruncate(fd, data.size()) != 0 || ::fsync(fd) != 0) {
        return errno;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return errno;
    }
    return st.st_size == data.size() ? 0 : EIO;
}

} // namespace

int createFileExclusively(const QString& path, const QByteArray& data) {
    const QByteArray name = QFile::encodeName(path);
    const QFileInfo info(path);
    TempFile temp(QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                    QStringLiteral(".XXXXXX"))); // mode 0600
    if (temp.fd() < 0) {
        return errno;
    }
    int err = writeAllChecked(temp.fd(), data);
    if (!temp.closeChecked() && err == 0) {
        err = errno;
    }
    if (err == 0 && ::link(temp.path().constData(), name.constData()) != 0) {
        err = errno;
    }
    if (err != EPERM && err != ENOTSUP && err != EOPNOTSUPP) {
        return err; // the temporary file goes with `temp`
    }
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    err = writeAllChecked(fd, data);
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(name.constData());
    }
    return err;
}

namespace {

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Reads the whole file from its start; 0 or the errno of the failure.
int readAllFrom(int fd, QByteArray& out) {
    out.clear();
    char buffer[16384];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return 0;
        }
        out.append(buffer, n);
        at += n;
    }
}

// Without a new file beside it, the file can only be written over. The old contents are read
// first and written back when the new ones do not get there whole (a full disk: the old bytes
// fit the blocks they had), so a failure leaves the old file, not a mix of both. Only a crash
// or a power cut in the middle of the write can still leave a mix: nothing but a second file
// could prevent that, and that is what the directory refuses.
bool rewriteInPlace(const QByteArray& target, const QByteArray& data, QString* error) {
    const int fd = ::open(target.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return fail(error, errno);
    }
    QByteArray old;
    int err = readAllFrom(fd, old);
    if (err == 0 && ::lseek(fd, 0, SEEK_SET) != 0) {
        err = errno;
    }
    if (err == 0) {
        err = writeAllChecked(fd, data);
        if (err != 0 && ::lseek(fd, 0, SEEK_SET) == 0) {
            [[maybe_unused]] const int restored = writeAllChecked(fd, old);
        }
    }
    const bool closed = ::close(fd) == 0;
    if (err != 0) {
        return fail(error, err);
    }
    return closed || fail(error, errno);
}

// A symbolic link stays a link: the file it names gets the new contents (also one that does not
// exist yet). Anything else is written where it is.
QString writtenPath(const QString& path) {
    const QFileInfo info(path);
    if (!info.isSymLink()) {
        return path;
    }
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.symLinkTarget() : resolved;
}

} // namespace

bool replaceFileContents(const QString& linkOrPath, const QByteArray& data, QString* error) {
    const QString path = writtenPath(linkOrPath);
    const QByteArray target = QFile::encodeName(path);
    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && ((old.st_mode & 0222) == 0 || ::access(target.constData(), W_OK) != 0)) {
        return fail(error, EACCES);
    }

    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    TempFile temp(dir + "/." + name + ".XXXXXX");
    if (temp.fd() < 0) {
        const int err = errno;
        if (exists && (err == EACCES || err == EPERM || err == EROFS)) {
            return rewriteInPlace(target, data, error);
        }
        return fail(error, err);
    }
    if (const int err = writeAllChecked(temp.fd(), data); err != 0) {
        return fail(error, err);
    }
    if (exists) {
        // Owner first: changing it may clear set-id bits that the mode then restores.
        if (::fchown(temp.fd(), old.st_uid, old.st_gid) != 0 && errno != EPERM) {
            return fail(error, errno);
        }
        if (::fchmod(temp.fd(), old.st_mode & 07777) != 0) {
            return fail(error, errno);
        }
    } else if (::fchmod(temp.fd(), newFileMode()) != 0) {
        return fail(error, errno);
    }
    if (!temp.closeChecked()) {
        return fail(error, errno);
    }
    if (::rename(temp.path().constData(), target.constData()) != 0) {
        return fail(error, errno);
    }
    temp.renamed();
    return true;
}

} // namespace talvora
