// The platform layer on Linux: the spill file and the source files that memos and lists
// read their lines from again.
#include "primitives/SourceFile.h"
#include "primitives/SpillFile.h"
#include "primitives/linux/Linux.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace LinuxLayer;

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
