// The platform layer of the primitives on POSIX systems: files, their sharing (through
// open-file-description locks), attributes, system error texts and the system code page
// (Windows-1252).
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Platform.h"
#include "primitives/SpillFile.h"
#include "primitives/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Windows-1252 at 0x80-0x9F; the five unassigned bytes map to the same C1 code points.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char Substitute = '?';

// Whether any byte lies in 0x80-0x9F, where Windows-1252 is not Latin-1 (a loop the
// compiler turns into vector code).
bool hasC1(const char *bytes, qsizetype size)
{
    unsigned found = 0;
    for (qsizetype i = 0; i < size; ++i)
        found |= unsigned(uchar(bytes[i]) - 0x80u < 0x20u);
    return found != 0;
}

} // namespace

// Truncates only a file that holds data: on some file systems (ext4) truncating a file,
// even an empty one, makes its next close wait for the data written after to reach disk.
static bool truncateIfNotEmpty(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    return st.st_size == 0 || ::ftruncate(fd, 0) == 0;
}

const int PlatformErrors::InvalidParameter = EINVAL;
const int PlatformErrors::FileNotFound = ENOENT;

int FileStream::openHandle(const ModeSpec &spec, bool truncate)
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
    for (;;) {
        const ssize_t n = ::read(int(m_handle), buffer, size_t(count));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_lastError = errno;
            return -1;
        }
    }
}

qint64 FileStream::copyFrom(FileStream &source, qint64 count)
{
    for (;;) {
        const ssize_t n = ::copy_file_range(int(source.m_handle), nullptr, int(m_handle), nullptr,
                                            size_t(count), 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        m_lastError = errno;
        // Not offered between these two files: the caller copies through a buffer.
        return errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                       errno == EBADF
                   ? -2
                   : -1;
    }
}

qint64 FileStream::write(const char *buffer, qint64 count)
{
    for (;;) {
        const ssize_t n = ::write(int(m_handle), buffer, size_t(count));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_lastError = errno;
            return -1;
        }
    }
}

FileReplacement::FileReplacement(const QString &fileName)
    : m_targetIsNew(!QFileInfo::exists(fileName)),
      m_target(fileName, FileMode::CreateForSave, false)
{
    const QFileInfo info(fileName);
    m_finalName = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    // A file with other names (hard links) is written in place, so that they all show
    // the new text; so is one beside which no temporary file can be made.
    struct stat st;
    const bool linked = ::fstat(int(m_target.m_handle), &st) == 0 && st.st_nlink > 1;
    if (!linked) {
        QByteArray pattern = nativeName(QFileInfo(m_finalName).absolutePath() +
                                        QStringLiteral("/.qv-XXXXXX")); // short: any name fits
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) {
            m_temporary = fd;
            m_temporaryName = QFile::decodeName(pattern);
            return;
        }
    }
    writeInPlace();
}

FileReplacement::~FileReplacement()
{
    discardTemporary();
    if (!m_committed && m_targetIsNew) // a save that failed leaves no file it made
        ::unlink(nativeName(m_target.fileName()).constData());
}

void FileReplacement::discardTemporary()
{
    if (m_temporary >= 0) {
        ::close(int(m_temporary));
        ::unlink(nativeName(m_temporaryName).constData());
    }
    m_temporary = -1;
}

void FileReplacement::writeInPlace()
{
    if (!truncateIfNotEmpty(int(m_target.m_handle)) ||
        ::lseek(int(m_target.m_handle), 0, SEEK_SET) != 0)
        throw Errors::createError(m_target.fileName(), errno);
}

void FileReplacement::write(const char *data, qint64 size)
{
    const int fd = int(m_temporary >= 0 ? m_temporary : m_target.m_handle);
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Errors::writeError();
        done += n;
    }
}

void FileReplacement::commit()
{
    if (m_temporary < 0) {
        if (::fsync(int(m_target.m_handle)) != 0)
            throw Errors::writeError();
        m_committed = true;
        return;
    }
    struct stat st;
    const mode_t mode = ::fstat(int(m_target.m_handle), &st) == 0 ? st.st_mode & 07777 : 0644;
    if (::fchmod(int(m_temporary), mode) != 0 || ::fsync(int(m_temporary)) != 0)
        throw Errors::writeError();
    if (::rename(nativeName(m_temporaryName).constData(), nativeName(m_finalName).constData()) ==
        0) {
        ::close(int(m_temporary));
        m_temporary = -1;
        m_committed = true;
        return;
    }
    // The folder does not let the target be replaced (a sticky folder, a file of another
    // owner): the complete text is copied over it instead.
    const int from = int(m_temporary);
    m_temporary = -1; // writes now go to the target
    struct Closer
    {
        int fd;
        const QByteArray name;
        ~Closer()
        {
            ::close(fd);
            ::unlink(name.constData());
        }
    } closer{from, nativeName(m_temporaryName)};
    writeInPlace();
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(from, buffer.get(), 1 << 20, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Errors::writeError();
        if (n == 0)
            break;
        write(buffer.get(), n);
        at += n;
    }
    if (::fsync(int(m_target.m_handle)) != 0)
        throw Errors::writeError();
    m_committed = true;
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

namespace Errors {

QString systemErrorText(int errorCode)
{
    return errorCode == SharingViolation
               ? QStringLiteral("The process cannot access the file because it is being used "
                                "by another process.")
               : QString::fromLocal8Bit(std::strerror(errorCode));
}

int dosErrorCode(int errorCode)
{
    switch (errorCode) {
    case ENOENT:
    case ENOTDIR:
        return 2;
    case EINVAL:
    case ENAMETOOLONG:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EISDIR: // a folder opened as a file is refused access, as on Windows
        return 5;
    case SharingViolation:
        return 32;
    default:
        return errorCode;
    }
}

} // namespace Errors

QString decodeSystemCodePage(QByteArrayView bytes)
{
    // Latin-1 first, then the few bytes where Windows-1252 differs from it.
    QString text = QString::fromLatin1(bytes);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    if (hasC1(bytes.data(), bytes.size()))
        for (qsizetype i = 0; i < text.size(); ++i)
            if (out[i] >= 0x80 && out[i] < 0xA0)
                out[i] = Cp1252High[out[i] - 0x80];
    return text;
}

void appendSystemCodePage(QByteArray &bytes, QStringView text)
{
    const qsizetype old = bytes.size();
    bytes.resize(old + text.size());
    char *out = bytes.data() + old;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        char b = Substitute;
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            b = char(c);
        } else {
            for (int k = 0; k < 32; ++k)
                if (Cp1252High[k] == c) {
                    b = char(0x80 + k);
                    break;
                }
        }
        *out++ = b;
    }
}

// Windows-1252 is Latin-1 but for 0x80-0x9F, where only its five unassigned bytes keep
// their C1 code points.
void appendSystemCodePage(QByteArray &bytes, QLatin1StringView text)
{
    const qsizetype old = bytes.size();
    bytes.resize(old + text.size());
    char *out = bytes.data() + old;
    std::memcpy(out, text.data(), size_t(text.size()));
    if (!hasC1(out, text.size()))
        return;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const uchar b = uchar(out[i]);
        if (b >= 0x80 && b < 0xA0 && Cp1252High[b - 0x80] != b)
            out[i] = Substitute;
    }
}

QByteArrayView systemCodePageBom()
{
    return {};
}

bool SpillFile::create()
{
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quorvane-XXXXXX"));
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::unlink(pattern.constData()); // gone from the folder at once, and with the process
    m_handle = fd;
    return true;
}

void SpillFile::release()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
}

// Repeats a positioned transfer until size bytes have moved: false when it fails or moves
// nothing before that.
template <typename Transfer> static bool transferAll(qint64 size, Transfer transfer)
{
    for (qint64 done = 0; done < size;) {
        const ssize_t n = transfer(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool SpillFile::writeAt(qint64 offset, const char *data, qint64 size)
{
    return transferAll(size, [&](qint64 done) {
        return ::pwrite(int(m_handle), data + done, size_t(size - done), offset + done);
    });
}

bool SpillFile::read(qint64 offset, char *data, qint64 size) const
{
    return transferAll(size, [&](qint64 done) {
        return ::pread(int(m_handle), data + done, size_t(size - done), offset + done);
    });
}

void IgnoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}
