#include "primitives/FileStream.h"

#include "primitives/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ModeSpec
{
    bool create = false;
    int access = 0;  // 0 read, 1 write, 2 read and write
    int sharing = 0; // 0x00/0x10 exclusive, 0x20 deny write, 0x30 deny read, 0x40 deny none
};

bool parseMode(quint16 mode, ModeSpec &spec)
{
    const int high = mode >> 8;
    const int low = mode & 0xFF;
    if (low & 0x8C)
        return false;
    spec.sharing = low & 0x70;
    if (spec.sharing > 0x40)
        return false;
    if (high == 0xFF) {
        if (low & 0x03)
            return false;
        spec.create = true;
        spec.access = 2;
        return true;
    }
    spec.access = low & 0x03;
    return spec.access != 3;
}

// The lock that stands for the sharing: writers that keep others out hold a write lock,
// readers that deny writing hold a read lock, a conflicting lock makes the open fail.
short lockTypeFor(const ModeSpec &spec)
{
    if (spec.create || spec.access != 0)
        return spec.sharing == 0x40 ? F_UNLCK : F_WRLCK;
    return (spec.sharing == 0x30 || spec.sharing == 0x40) ? F_UNLCK : F_RDLCK;
}

bool takeLock(int fd, short type)
{
    if (type == F_UNLCK)
        return true;
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

QByteArray nativeName(const QString &fileName)
{
    return QFile::encodeName(fileName);
}

} // namespace

FileStream::FileStream(const QString &fileName, quint16 mode, bool truncate) : m_fileName(fileName)
{
    bool create = false;
    if (const int code = open(mode, truncate, create))
        throw create ? Errors::createError(fileName, code) : Errors::openError(fileName, code);
}

FileStream::FileStream(const QString &fileName, quint16 mode, int &errorCode) : m_fileName(fileName)
{
    bool create = false;
    errorCode = open(mode, true, create);
}

int FileStream::open(quint16 mode, bool truncate, bool &create)
{
    ModeSpec spec;
    const bool valid = parseMode(mode, spec);
    create = spec.create;
    if (!valid)
        return EINVAL;
    if (m_fileName.isEmpty())
        return ENOENT;
    const QByteArray name = nativeName(m_fileName);
    const int flags = spec.create        ? O_RDWR | O_CREAT
                      : spec.access == 0 ? O_RDONLY
                      : spec.access == 1 ? O_WRONLY
                                         : O_RDWR;
    // A create opens without truncating first, so that a file held by another opener
    // stays as it was.
    m_fd = ::open(name.constData(), flags | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return errno;
    int code = 0;
    if (!takeLock(m_fd, lockTypeFor(spec)))
        code = Errors::SharingViolation;
    else if (spec.create && truncate && ::ftruncate(m_fd, 0) != 0)
        code = errno;
    if (code) {
        ::close(m_fd);
        m_fd = -1;
        return code;
    }
    if (!spec.create && spec.access == 0)
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return 0;
}

FileStream::~FileStream()
{
    close();
}

void FileStream::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

qint64 FileStream::size() const
{
    struct stat st;
    return ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : 0;
}

qint64 FileStream::position() const
{
    return ::lseek(m_fd, 0, SEEK_CUR);
}

void FileStream::setPosition(qint64 position)
{
    ::lseek(m_fd, position, SEEK_SET);
}

qint64 FileStream::read(char *buffer, qint64 count)
{
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size_t(count));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_lastError = errno;
            return -1;
        }
    }
}

qint64 FileStream::write(const char *buffer, qint64 count)
{
    for (;;) {
        const ssize_t n = ::write(m_fd, buffer, size_t(count));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_lastError = errno;
            return -1;
        }
    }
}

FileReplacement::FileReplacement(const QString &fileName)
    : m_target(fileName, FileMode::CreateForSave, false)
{
    const QFileInfo info(fileName);
    m_finalName = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    QByteArray pattern = nativeName(m_finalName + QStringLiteral(".XXXXXX"));
    m_fd = ::mkstemp(pattern.data());
    if (m_fd < 0)
        throw Errors::createError(fileName, errno);
    m_temporaryName = QFile::decodeName(pattern);
}

FileReplacement::~FileReplacement()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(nativeName(m_temporaryName).constData());
    }
}

void FileReplacement::write(const char *data, qint64 size)
{
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Errors::writeError();
        done += n;
    }
}

void FileReplacement::commit()
{
    struct stat st;
    const mode_t mode = ::fstat(m_target.handle(), &st) == 0 ? st.st_mode & 07777 : 0644;
    if (::fchmod(m_fd, mode) != 0 || ::fsync(m_fd) != 0)
        throw Errors::writeError();
    if (::rename(nativeName(m_temporaryName).constData(), nativeName(m_finalName).constData()) != 0)
        throw Errors::writeError();
    ::close(m_fd);
    m_fd = -1;
}

qint64 CopyFrom(FileStream &destination, FileStream &source, qint64 count)
{
    constexpr qint64 MaxChunk = 61440;
    if (count <= 0) {
        source.setPosition(0);
        count = source.size();
    }
    const qint64 result = count;
    const qint64 chunk = qMin(count, MaxChunk);
    std::unique_ptr<char[]> buffer(new char[size_t(qMax<qint64>(chunk, 1))]);
    while (count != 0) {
        const qint64 n = qMin(chunk, count);
        for (qint64 done = 0; done < n;) {
            const qint64 got = source.read(buffer.get() + done, n - done);
            if (got <= 0)
                throw Errors::readError();
            done += got;
        }
        for (qint64 done = 0; done < n;) {
            const qint64 put = destination.write(buffer.get() + done, n - done);
            if (put <= 0)
                throw Errors::writeError();
            done += put;
        }
        count -= n;
    }
    return result;
}

qint64 FileSizeOf(const QString &fileName)
{
    struct stat st;
    if (fileName.isEmpty() || ::stat(nativeName(fileName).constData(), &st) != 0)
        return -1;
    return st.st_size;
}

bool SameFile(const QString &first, const QString &second)
{
    struct stat a, b;
    return !first.isEmpty() && !second.isEmpty() &&
           ::stat(nativeName(first).constData(), &a) == 0 &&
           ::stat(nativeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool FileExists(const QString &fileName)
{
    if (fileName.isEmpty())
        return false;
    const QByteArray name = nativeName(fileName);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            return !S_ISDIR(st.st_mode);
        // A link: it exists when its target can be opened and is no directory.
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return false;
        const bool isFile = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
        ::close(fd);
        return isFile;
    }
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == EINVAL)
        return false;
    // The attributes are refused: look for the name in its folder instead.
    const QFileInfo info(fileName);
    DIR *dir = ::opendir(nativeName(info.absolutePath()).constData());
    if (!dir)
        return false;
    const QByteArray entryName = nativeName(info.fileName());
    bool found = false;
    while (dirent *entry = ::readdir(dir)) {
        if (entryName == entry->d_name) {
            found = entry->d_type != DT_DIR;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
