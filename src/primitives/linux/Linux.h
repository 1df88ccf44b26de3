#pragma once

// What the files of the platform layer on Linux share (none of it leaves them).
#include "primitives/FileStream.h"
#include "primitives/Platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LinuxLayer {

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
inline short lockTypeFor(const OpenMode &spec)
{
    if (spec.create || spec.access != 0)
        return spec.sharing == 0x40 ? F_UNLCK : F_WRLCK;
    return (spec.sharing == 0x30 || spec.sharing == 0x40) ? F_UNLCK : F_RDLCK;
}

inline bool takeLock(int fd, short type)
{
    if (type == F_UNLCK)
        return true;
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

inline QByteArray nativeName(const QString &fileName)
{
    return NativeFileName(fileName);
}

// Truncates only a file that holds data: on some file systems (ext4) truncating a file,
// even an empty one, makes its next close wait for the data written after to reach disk.
inline bool truncateIfNotEmpty(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    return st.st_size == 0 || ::ftruncate(fd, 0) == 0;
}

// The folder a name lies in, as the system names it.
inline QByteArray folderOf(const QByteArray &name)
{
    const qsizetype slash = name.lastIndexOf('/');
    return slash < 0    ? QByteArrayLiteral(".")
           : slash == 0 ? QByteArrayLiteral("/")
                        : name.left(slash);
}

} // namespace LinuxLayer
