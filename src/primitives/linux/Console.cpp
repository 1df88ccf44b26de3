// The platform layer on Linux: the process's standard streams and signals, and its
// arguments.
#include "primitives/FileStream.h"
#include "primitives/Process.h"
#include "primitives/linux/Linux.h"

#include <QStringList>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace LinuxLayer;

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
