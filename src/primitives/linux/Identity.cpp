// The platform layer on Linux: a file's size, identity and existence, the system's error
// texts, and the system code page (Windows-1252).
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/TextFile.h"
#include "primitives/Windows1252.h"
#include "primitives/linux/Linux.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace LinuxLayer;

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
