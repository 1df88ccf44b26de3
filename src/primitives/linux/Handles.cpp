// The platform layer on Linux: file handles (open with the sharing scheme through
// open-file-description locks, read, write, copy inside the system) and file names as bytes.
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Platform.h"
#include "primitives/TextFile.h"
#include "primitives/linux/Linux.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace LinuxLayer;

QByteArray NativeFileName(const QString &fileName)
{
    const auto *chars = reinterpret_cast<const char16_t *>(fileName.constData());
    const qsizetype size = fileName.size();
    qsizetype escaped = 0;
    while (escaped < size && !(chars[escaped] >= 0xDC80 && chars[escaped] <= 0xDCFF))
        ++escaped;
    if (escaped == size)
        return fileName.toUtf8();
    QByteArray name = fileName.first(escaped).toUtf8();
    for (qsizetype i = escaped; i < size;) {
        if (chars[i] >= 0xDC80 && chars[i] <= 0xDCFF) {
            name.append(char(chars[i] - 0xDC00));
            ++i;
            continue;
        }
        qsizetype run = i;
        while (run < size && !(chars[run] >= 0xDC80 && chars[run] <= 0xDCFF))
            ++run;
        name.append(QStringView(fileName).sliced(i, run - i).toUtf8());
        i = run;
    }
    return name;
}

QString FileNameFromNative(QByteArrayView name)
{
    const auto *p = reinterpret_cast<const uchar *>(name.data());
    const uchar *end = p + name.size();
    QString text;
    text.reserve(name.size());
    while (p < end) {
        const uchar *run = p;
        int length = 0;
        while (run < end && (length = wellFormedLength(run, end)) != 0)
            run += length;
        text.append(QString::fromUtf8(reinterpret_cast<const char *>(p), run - p));
        if (run < end) // a byte of no character: kept as its escape
            text.append(QChar(char16_t(0xDC00 + *run)));
        p = run < end ? run + 1 : run;
    }
    return text;
}

const int PlatformErrors::InvalidParameter = EINVAL;
const int PlatformErrors::FileNotFound = ENOENT;

int FileStream::openHandle(const OpenMode &spec, bool truncate)
{
    const QByteArray name = nativeName(m_fileName);
    const int flags = spec.create        ? O_RDWR | O_CREAT
                      : spec.access == 0 ? O_RDONLY
                      : spec.access == 1 ? O_WRONLY
                                         : O_RDWR;
    // A create opens without truncating first, so that a file held by another opener
    // stays as it was. Nothing waits: a named pipe without a writer would block the open.
    const int fd = ::open(name.constData(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return errno;
    m_handle = fd;
    int code = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        code = errno;
    else if (!spec.create && !S_ISREG(st.st_mode))
        code = S_ISDIR(st.st_mode) ? EISDIR : EPERM; // only regular files are read
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        code = errno;
    else if (!takeLock(fd, lockTypeFor(spec)))
        code = Errors::SharingViolation;
    else if (spec.create && truncate && !truncateIfNotEmpty(fd))
        code = errno;
    if (code) {
        ::close(fd);
        m_handle = -1;
        return code;
    }
    if (!spec.create && spec.access == 0)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return 0;
}

FileStream::FileStream(StandardInput) : m_fileName(QStringLiteral("-"))
{
    m_handle = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    if (m_handle < 0)
        throw Errors::openError(m_fileName, errno);
}

void FileStream::close()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
}

qint64 FileStream::size() const
{
    struct stat st;
    return ::fstat(int(m_handle), &st) == 0 ? qint64(st.st_size) : 0;
}

qint64 FileStream::position() const
{
    return ::lseek(int(m_handle), 0, SEEK_CUR);
}

void FileStream::setPosition(qint64 position)
{
    ::lseek(int(m_handle), position, SEEK_SET);
}

qint64 FileStream::read(char *buffer, qint64 count)
{
    const ssize_t n = retryOnSignal([&] { return ::read(int(m_handle), buffer, size_t(count)); });
    if (n < 0)
        m_lastError = errno;
    return n < 0 ? -1 : n;
}

qint64 FileStream::copyFrom(FileStream &source, qint64 count)
{
    const ssize_t n = retryOnSignal([&] {
        return ::copy_file_range(int(source.m_handle), nullptr, int(m_handle), nullptr,
                                 size_t(count), 0);
    });
    if (n >= 0)
        return n;
    m_lastError = errno;
    // Not offered between these two files: the caller copies through a buffer.
    return errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                   errno == EBADF
               ? -2
               : -1;
}

bool FileStream::resize(qint64 size)
{
    if (::ftruncate(int(m_handle), off_t(size)) != 0 ||
        ::lseek(int(m_handle), size, SEEK_SET) < 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

qint64 FileStream::write(const char *buffer, qint64 count)
{
    const ssize_t n = retryOnSignal([&] { return ::write(int(m_handle), buffer, size_t(count)); });
    if (n < 0)
        m_lastError = errno;
    return n < 0 ? -1 : n;
}
