// The platform layer on Linux: the safe replacement of a file (a temporary beside it, or
// nameless, put in place at commit) and the signals that remove its temporaries.
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Platform.h"
#include "primitives/Process.h"
#include "primitives/linux/Linux.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace LinuxLayer;

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
