// The platform layer of the primitives on Linux (open-file-description locks, O_TMPFILE,
// copy_file_range, fallocate, renameat2 are Linux's own): files, their sharing, attributes,
// the safe replacement and the signals that end it, system error texts, the spill file, the
// process's standard streams and the system code page (Windows-1252).
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Platform.h"
#include "primitives/Process.h"
#include "primitives/SourceFile.h"
#include "primitives/SpillFile.h"
#include "primitives/TextFile.h"
#include "primitives/Windows1252.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Makes a system call again while it fails with EINTR (a signal was handled first); its
// result otherwise. Every call that can be interrupted goes through it.
template <typename Call> auto retryOnSignal(Call call)
{
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// The lock that stands for the sharing: writers that keep others out hold a write lock,
// readers that deny writing hold a read lock, a conflicting lock makes the open fail.
short lockTypeFor(const OpenMode &spec)
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
    return NativeFileName(fileName);
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

namespace {

// Temporaries that carry a name until they replace their target: a signal that ends the
// program removes them first, each by its name in its folder (a descriptor), so that a long
// path does not matter. The handler reads only this fixed storage; a slot's name is written
// before the slot is marked used.
constexpr int PendingSlots = 64;
constexpr size_t PendingNameSize = 32;
struct PendingTemporary
{
    int folder;
    char name[PendingNameSize];
};
PendingTemporary pending[PendingSlots];
volatile sig_atomic_t pendingUsed[PendingSlots];
constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler writes to standard error before the program ends; changed only while the
// cleanup signals are held.
char *volatile interruptNote = nullptr;
volatile size_t interruptNoteSize = 0;
size_t interruptNoteCapacity = 0;

// The thread that holds the signals back around commits: a signal that another thread
// receives is passed on to it, so that it waits while that thread holds it.
pthread_t cleanupThread;

extern "C" void removePendingAndEnd(int signal)
{
    if (!pthread_equal(pthread_self(), cleanupThread)) {
        pthread_kill(cleanupThread, signal);
        return;
    }
    for (int i = 0; i < PendingSlots; ++i)
        if (pendingUsed[i])
            ::unlinkat(pending[i].folder, pending[i].name, 0);
    for (size_t done = 0; interruptNote && done < interruptNoteSize;) {
        const ssize_t n = ::write(2, interruptNote + done, interruptNoteSize - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal); // the usual status, 128 + the signal
}

void installCleanupHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        cleanupThread = pthread_self();
        for (const int signal : CleanupSignals) {
            struct sigaction old = {};
            if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
                (old.sa_flags & SA_SIGINFO))
                continue; // ignored (nohup) or handled by the program: left as it is
            struct sigaction action = {};
            action.sa_handler = removePendingAndEnd;
            sigfillset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

// Holds the cleanup signals back while it lives: a temporary is never on disk without its
// name registered, and a commit's rename or overwrite runs to its end (a held-back signal is
// handled when it ends).
class CleanupSignalsHeld
{
  public:
    CleanupSignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : CleanupSignals)
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &m_old);
    }
    ~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
    CleanupSignalsHeld(const CleanupSignalsHeld &) = delete;
    CleanupSignalsHeld &operator=(const CleanupSignalsHeld &) = delete;

  private:
    sigset_t m_old;
};

std::mutex pendingTaking;

// A slot for a temporary's name in folder; -1 when every slot is taken.
int registerPending(int folder, const QByteArray &name)
{
    Q_ASSERT(size_t(name.size()) < PendingNameSize);
    const std::lock_guard lock(pendingTaking);
    for (int i = 0; i < PendingSlots; ++i)
        if (!pendingUsed[i]) {
            pending[i].folder = folder;
            std::memcpy(pending[i].name, name.constData(), size_t(name.size()) + 1);
            pendingUsed[i] = 1;
            return i;
        }
    return -1;
}

void unregisterPending(int folder, const QByteArray &name)
{
    const std::lock_guard lock(pendingTaking);
    for (int i = 0; i < PendingSlots; ++i)
        if (pendingUsed[i] && pending[i].folder == folder && name == pending[i].name)
            pendingUsed[i] = 0;
}

// Makes a new temporary name in folder with make (which answers 0 or
// the system's code, EEXIST for a name taken), registered for the cleanup: 0, or the code of
// the last failure.
template <typename Make> int makeTemporaryName(int folder, QByteArray &name, Make make)
{
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        name = temporaryName();
        const int slot = registerPending(folder, name);
        if (slot < 0)
            return EMFILE;
        error = make(name);
        if (error != 0)
            pendingUsed[slot] = 0;
    }
    return error;
}

// A new temporary in folder, created as a shell redirection creates a file (mode 0666 less
// the umask, or the folder's default ACL). Where the file system can, it has no name until
// commit (O_TMPFILE), so that nothing is left however the program ends, SIGKILL included;
// elsewhere it is named and registered for the cleanup (name set). The descriptor, or -1
// with the system's code in error.
int createTemporary(int folder, QByteArray &name, int &error)
{
    name.clear();
    // A nameless file gets its name through /proc at commit.
    if (!NamedTemporariesOnly() && ::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
    }
    int fd = -1;
    error = makeTemporaryName(folder, name, [&](const QByteArray &candidate) {
        fd = ::openat(folder, candidate.constData(),
                      O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        return fd >= 0 ? 0 : errno;
    });
    if (error != 0)
        name.clear();
    return error == 0 ? fd : -1;
}

// Gives a nameless temporary a registered name in folder: 0, or the system's code.
int nameTemporary(int folder, int fd, QByteArray &name)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const int error = makeTemporaryName(folder, name, [&](const QByteArray &candidate) {
        return ::linkat(AT_FDCWD, self.constData(), folder, candidate.constData(),
                        AT_SYMLINK_FOLLOW) == 0
                   ? 0
                   : errno;
    });
    if (error != 0)
        name.clear();
    return error;
}

// The name a chain of symbolic links ends at (the last one may name a missing file); the
// name itself when it is no link.
QByteArray followLinks(QByteArray name)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return name;
        QByteArray target(qMax<qsizetype>(st.st_size, 255) + 1, Qt::Uninitialized);
        const ssize_t n = ::readlink(name.constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size())
            return name;
        target.truncate(n);
        if (!target.startsWith('/')) {
            const qsizetype slash = name.lastIndexOf('/');
            target.prepend(slash < 0 ? QByteArray() : name.left(slash + 1));
        }
        name = target;
    }
    return name; // a loop: the open fails with ELOOP
}

QByteArray folderOf(const QByteArray &name)
{
    const qsizetype slash = name.lastIndexOf('/');
    return slash < 0    ? QByteArrayLiteral(".")
           : slash == 0 ? QByteArrayLiteral("/")
                        : name.left(slash);
}

// Gives the temporary to the target's owner and group with the target's extended attributes
// and mode; false when any of them cannot be kept.
bool takeOnIdentity(int target, const struct stat &st, int temporary)
{
    struct stat now;
    if (::fstat(temporary, &now) != 0)
        return false;
    if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
        ::fchown(temporary, st.st_uid, st.st_gid) != 0)
        return false;
    ssize_t size = ::flistxattr(target, nullptr, 0);
    if (size < 0 && errno != ENOTSUP)
        return false;
    if (size > 0) {
        QByteArray names(size, Qt::Uninitialized);
        size = ::flistxattr(target, names.data(), size_t(names.size()));
        if (size < 0)
            return false;
        for (const char *name = names.constData(); name < names.constData() + size;
             name += std::strlen(name) + 1) {
            const ssize_t length = ::fgetxattr(target, name, nullptr, 0);
            if (length < 0)
                return false;
            QByteArray value(qMax<ssize_t>(length, 1), Qt::Uninitialized);
            const ssize_t got = ::fgetxattr(target, name, value.data(), size_t(value.size()));
            if (got < 0 || ::fsetxattr(temporary, name, value.constData(), size_t(got), 0) != 0)
                return false;
        }
    }
    // Last: a change of owner clears the set-id bits, and they are kept with the owner.
    return ::fchmod(temporary, st.st_mode & 07777) == 0;
}

} // namespace

void RunWithInterruptsHeld(const std::function<void()> &work)
{
    const CleanupSignalsHeld held;
    work();
}

void AddToInterruptNote(QByteArrayView text)
{
    const CleanupSignalsHeld held;
    const size_t size = interruptNoteSize;
    if (size + size_t(text.size()) > interruptNoteCapacity) {
        const size_t capacity = qMax<size_t>(2 * interruptNoteCapacity, size + text.size() + 256);
        char *grown = static_cast<char *>(std::malloc(capacity));
        if (!grown)
            throw std::bad_alloc();
        if (size)
            std::memcpy(grown, interruptNote, size);
        char *old = interruptNote;
        interruptNote = grown;
        interruptNoteCapacity = capacity;
        std::free(old);
    }
    std::memcpy(interruptNote + size, text.data(), size_t(text.size()));
    interruptNoteSize = size + size_t(text.size());
}

FileReplacement::FileReplacement(const QString &fileName, const QStringList &inputs)
{
    m_target.m_fileName = fileName;
    if (fileName.isEmpty())
        throw Errors::createError(fileName, ENOENT);
    const QByteArray finalName = followLinks(nativeName(fileName));
    m_finalName = FileNameFromNative(finalName);
    struct stat st;
    if (::stat(finalName.constData(), &st) != 0) {
        if (errno != ENOENT)
            throw Errors::createError(fileName, errno);
    } else if (S_ISDIR(st.st_mode)) {
        throw Errors::createError(fileName, EISDIR);
    } else {
        m_targetExists = true;
        // Opened for writing only and without waiting: a pipe without a reader is refused,
        // not waited for, and the program holds no read end of it.
        const int fd = ::open(finalName.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            throw Errors::createError(fileName, errno);
        m_target.m_handle = fd;
        if (::fstat(fd, &st) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
            throw Errors::createError(fileName, errno);
        if (!S_ISREG(st.st_mode)) {
            m_way = Way::Direct; // written as a redirection writes it
            return;
        }
        for (const QString &input : inputs) {
            struct stat in;
            if (::stat(nativeName(input).constData(), &in) == 0 && in.st_dev == st.st_dev &&
                in.st_ino == st.st_ino)
                m_targetIsInput = true;
        }
        // An input is still to be read under its own lock: the target is locked at commit.
        if (!m_targetIsInput && !takeLock(fd, F_WRLCK))
            throw Errors::createError(fileName, Errors::SharingViolation);
    }
    // The temporary is named relative to the target's folder: only each name's own length
    // is limited, however long the path.
    const QByteArray folder = folderOf(finalName);
    m_folder = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        throw Errors::createError(fileName, errno);
    if (!m_targetExists || st.st_nlink == 1) {
        installCleanupHandlers();
        const CleanupSignalsHeld held;
        QByteArray name;
        int error = 0;
        const int fd = createTemporary(int(m_folder), name, error);
        if (fd < 0 && !(m_targetExists && (error == EACCES || error == EPERM)))
            throw Errors::createError(fileName, error);
        if (fd >= 0) {
            m_temporary.m_handle = fd;
            m_temporaryName = QString::fromLatin1(name); // empty while it has no name
            if (!m_targetExists || takeOnIdentity(int(m_target.m_handle), st, fd))
                return;
            discardTemporary(); // the new file could not be the old one's: written in place
        }
    }
    m_way = Way::InPlace;
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/quorvane-save-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw Errors::createError(fileName, errno);
    ::unlink(pattern.constData()); // nameless: nothing to remove however the program ends
    m_temporary.m_handle = fd;
}

FileReplacement::~FileReplacement()
{
    discardTemporary();
    if (m_folder >= 0)
        ::close(int(m_folder));
}

void FileReplacement::discardTemporary()
{
    m_temporary.close();
    if (!m_temporaryName.isEmpty()) {
        const QByteArray name = m_temporaryName.toLatin1();
        ::unlinkat(int(m_folder), name.constData(), 0);
        unregisterPending(int(m_folder), name);
    }
    m_temporaryName.clear();
}

void FileReplacement::write(const char *data, qint64 size)
{
    const int fd = int(m_way == Way::Direct ? m_target.m_handle : m_temporary.m_handle);
    for (qint64 done = 0; done < size;) {
        const ssize_t n =
            retryOnSignal([&] { return ::write(fd, data + done, size_t(size - done)); });
        if (n <= 0)
            throw Errors::writeError();
        done += n;
    }
    wrote(size);
}

void FileReplacement::wrote(qint64 size)
{
    if (m_way != Way::Replace || !m_targetExists)
        return;
    m_written += size;
    // The commit waits until the temporary that replaces the target is on the disk: its
    // writing back is started as it grows, so that it goes on while the rest is produced
    // instead of all at the end.
    constexpr qint64 WritebackStep = qint64(8) << 20;
    if (m_written - m_writtenBack >= WritebackStep) {
        ::sync_file_range(int(m_temporary.m_handle), m_writtenBack, m_written - m_writtenBack,
                          SYNC_FILE_RANGE_WRITE);
        m_writtenBack = m_written;
    }
}

void FileReplacement::copyOverTarget()
{
    const int from = int(m_temporary.m_handle);
    const int to = int(m_target.m_handle);
    struct stat st;
    if (::fstat(from, &st) != 0)
        throw Errors::writeError();
    // The room is taken first (the size left as it is), so that a full disk fails before
    // any old byte is lost.
    if (::fallocate(to, FALLOC_FL_KEEP_SIZE, 0, st.st_size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS && errno != EINVAL)
        throw Errors::writeError();
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    // From the first old byte overwritten to the last new one, no signal ends the program:
    // only SIGKILL or a power cut can leave the target part old, part new.
    const CleanupSignalsHeld held;
    for (off_t at = 0; at < st.st_size;) {
        const ssize_t n = retryOnSignal([&] { return ::pread(from, buffer.get(), 1 << 20, at); });
        if (n <= 0)
            throw Errors::writeError();
        for (ssize_t done = 0; done < n;) {
            const ssize_t put = retryOnSignal(
                [&] { return ::pwrite(to, buffer.get() + done, size_t(n - done), at + done); });
            if (put <= 0)
                throw Errors::writeError();
            done += put;
        }
        at += n;
    }
    if (::ftruncate(to, st.st_size) != 0 || ::fsync(to) != 0)
        throw Errors::writeError();
}

void FileReplacement::commit()
{
    if (m_way == Way::Direct)
        return;
    if (m_targetIsInput && !takeLock(int(m_target.m_handle), F_WRLCK))
        throw Errors::createError(m_target.fileName(), Errors::SharingViolation);
    if (m_way == Way::InPlace) {
        copyOverTarget();
        discardTemporary();
        return;
    }
    // A replaced file survives a power cut as the old text or the new: the new one is on the
    // disk before it takes the name. A new file has no old text to lose and takes its name
    // at once, as cp, split and sort leave theirs.
    if (m_targetExists && ::fsync(int(m_temporary.m_handle)) != 0)
        throw Errors::writeError();
    int error = 0;
    if (m_temporaryName.isEmpty()) {
        const CleanupSignalsHeld held; // named and registered in one step
        QByteArray name;
        error = nameTemporary(int(m_folder), int(m_temporary.m_handle), name);
        m_temporaryName = QString::fromLatin1(name);
    }
    if (error != 0) {
        // The folder takes no new name now (its permissions changed): copied over instead.
        if (!m_targetExists || (error != EACCES && error != EPERM))
            throw Errors::writeError();
        copyOverTarget();
        discardTemporary();
        return;
    }
    const QByteArray temporary = m_temporaryName.toLatin1();
    const QByteArray finalName = nativeName(m_finalName);
    const QByteArray baseName = finalName.mid(finalName.lastIndexOf('/') + 1);
    {
        const CleanupSignalsHeld held; // renamed and forgotten in one step
        if (::renameat(int(m_folder), temporary.constData(), int(m_folder), baseName.constData()) ==
            0) {
            unregisterPending(int(m_folder), temporary);
            m_temporaryName.clear();
            m_temporary.close();
            return;
        }
        error = errno;
    }
    // The folder does not let the target be replaced (a sticky folder, a file of another
    // owner): the complete text is copied over it instead.
    if (!m_targetExists || (error != EACCES && error != EPERM))
        throw Errors::writeError();
    copyOverTarget();
    discardTemporary();
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
    DIR *dir = ::opendir(folderOf(name).constData());
    if (!dir)
        return false;
    const QByteArray entryName = name.mid(name.lastIndexOf('/') + 1);
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

// The system code page here is Windows-1252 (Windows1252.h).
QString decodeSystemCodePage(QByteArrayView bytes)
{
    return Windows1252::decode(bytes);
}

bool decodesAsLatin1(QByteArrayView bytes)
{
    return Windows1252::decodesAsLatin1(bytes);
}

void appendSystemCodePage(QByteArray &bytes, QStringView text)
{
    Windows1252::append(bytes, text);
}

void appendSystemCodePage(QByteArray &bytes, QLatin1StringView text)
{
    Windows1252::append(bytes, text);
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
        const ssize_t n = retryOnSignal([&] { return transfer(done); });
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

bool SourceFile::openShared()
{
    // No lock: other programs go on writing the file as they please. A pipe's open does not
    // wait for a writer: it is refused below.
    int fd = retryOnSignal([&] {
        return ::open(nativeName(m_fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    });
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd); // only a regular file's bytes can be read again
        fd = -1;
    }
    m_handle = fd;
    return fd >= 0;
}

bool SourceFile::blocksReplacement()
{
    // A rename replaces the name; the open file keeps its bytes.
    return false;
}

void SourceFile::release()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
}

bool SourceFile::read(qint64 offset, char *data, qint64 size) const
{
    return transferAll(size, [&](qint64 done) {
        return ::pread(int(m_handle), data + done, size_t(size - done), offset + done);
    });
}

void IgnoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void MakeStandardStreamsValid()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // Opened the other way round: a read of a closed input or a write to a closed
        // output fails, as it would have, instead of quietly doing nothing.
        const int opened = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void IgnoreBrokenPipeSignal()
{
    std::signal(SIGPIPE, SIG_IGN);
}

void AttachStandardStreams()
{
    // Standard output and error are the ones the program was started with.
}

void MakeStandardOutputBinary()
{
    // Bytes are written as they are.
}

bool StandardErrorIsTerminal()
{
    return ::isatty(2) == 1;
}

QStringList ProgramArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(FileNameFromNative(argv[i]));
    return arguments;
}

namespace {

// Standard output's file when it is a regular file.
bool standardOutputFile(struct stat &out)
{
    return ::fstat(1, &out) == 0 && S_ISREG(out.st_mode);
}

} // namespace

bool StandardOutputIs(const QString &fileName)
{
    struct stat out, in;
    return standardOutputFile(out) && !fileName.isEmpty() &&
           ::stat(nativeName(fileName).constData(), &in) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

bool StandardOutputIsStandardInput()
{
    struct stat out, in;
    return standardOutputFile(out) && ::fstat(0, &in) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}
