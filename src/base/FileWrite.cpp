#include "base/FileWrite.h"

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

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool rewriteInPlace(const QByteArray& target, const QByteArray& data, QString* error) {
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail(error, errno);
    }
    const int err = writeAllChecked(fd, data);
    const bool closed = ::close(fd) == 0;
    if (err != 0) {
        return fail(error, err);
    }
    return closed || fail(error, errno);
}

} // namespace

bool replaceFileContents(const QString& path, const QByteArray& data, QString* error) {
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
