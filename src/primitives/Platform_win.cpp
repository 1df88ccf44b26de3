// The platform layer of the primitives on Windows: files opened with the real share modes,
// attributes by GetFileAttributesExW, the system's error texts, and the ANSI code page that
// GetACP names.
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Platform.h"
#include "primitives/Process.h"
#include "primitives/SourceFile.h"
#include "primitives/SpillFile.h"
#include "primitives/TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <memory>
#include <mutex>

#include <windows.h>

namespace {

HANDLE handleOf(qintptr handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// A name as the system takes it. A long one (its full name past what the old calls take)
// is given in the extended form "\\?\", so that it opens whether or not the system's long
// path setting is on; the manifest declares the programs aware of long paths as well.
std::wstring nativeName(const QString &fileName)
{
    const QString name = QDir::toNativeSeparators(fileName);
    constexpr qsizetype LongName = MAX_PATH - 12; // the limit of a folder's name
    if (name.size() < LongName / 2 && QFileInfo(fileName).isAbsolute())
        return name.toStdWString();
    if (name.startsWith(u"\\\\?\\") || name.startsWith(u"\\\\.\\"))
        return name.toStdWString();
    const QString full =
        QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(fileName)));
    if (full.size() < LongName)
        return name.toStdWString();
    if (full.startsWith(u"\\\\")) // \\server\share\...
        return (QStringLiteral(u"\\\\?\\UNC\\") + full.mid(2)).toStdWString();
    if (full.size() > 2 && full[1] == u':')
        return (QStringLiteral(u"\\\\?\\") + full).toStdWString();
    return name.toStdWString();
}

DWORD shareModeFor(int sharing)
{
    switch (sharing) {
    case 0x20:
        return FILE_SHARE_READ; // deny write
    case 0x30:
        return FILE_SHARE_WRITE; // deny read
    case 0x40:
        return FILE_SHARE_READ | FILE_SHARE_WRITE; // deny none
    default:
        return 0; // exclusive
    }
}

} // namespace

const int PlatformErrors::InvalidParameter = ERROR_INVALID_PARAMETER;
const int PlatformErrors::FileNotFound = ERROR_FILE_NOT_FOUND;

int FileStream::openHandle(const OpenMode &spec, bool truncate)
{
    const DWORD access = spec.access == 0   ? GENERIC_READ
                         : spec.access == 1 ? GENERIC_WRITE
                                            : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition =
        spec.create ? (truncate ? CREATE_ALWAYS : OPEN_ALWAYS) : OPEN_EXISTING;
    const HANDLE h =
        ::CreateFileW(nativeName(m_fileName).c_str(), access, shareModeFor(spec.sharing), nullptr,
                      disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return int(::GetLastError());
    // Only files on a disk are read: a device (NUL, CON, COM1, reserved names with any
    // extension among them) or a pipe is refused at once.
    if (!spec.create && ::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        return ERROR_ACCESS_DENIED;
    }
    m_handle = reinterpret_cast<qintptr>(h);
    return 0;
}

FileStream::FileStream(StandardInput) : m_fileName(QStringLiteral("-"))
{
    HANDLE h = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_INPUT_HANDLE),
                           ::GetCurrentProcess(), &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
        throw Errors::openError(m_fileName, int(::GetLastError()));
    m_handle = reinterpret_cast<qintptr>(h);
}

void FileStream::close()
{
    if (m_handle != -1)
        ::CloseHandle(handleOf(m_handle));
    m_handle = -1;
}

qint64 FileStream::size() const
{
    LARGE_INTEGER size;
    return ::GetFileSizeEx(handleOf(m_handle), &size) ? qint64(size.QuadPart) : 0;
}

qint64 FileStream::position() const
{
    LARGE_INTEGER zero{}, position{};
    ::SetFilePointerEx(handleOf(m_handle), zero, &position, FILE_CURRENT);
    return qint64(position.QuadPart);
}

void FileStream::setPosition(qint64 position)
{
    LARGE_INTEGER to;
    to.QuadPart = position;
    ::SetFilePointerEx(handleOf(m_handle), to, nullptr, FILE_BEGIN);
}

qint64 FileStream::read(char *buffer, qint64 count)
{
    DWORD got = 0;
    const DWORD asked = DWORD(qMin<qint64>(count, 1 << 30));
    if (!::ReadFile(handleOf(m_handle), buffer, asked, &got, nullptr)) {
        m_lastError = int(::GetLastError());
        // A pipe whose writer has closed its end reads as the end of the data.
        return m_lastError == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return got;
}

qint64 FileStream::write(const char *buffer, qint64 count)
{
    DWORD put = 0;
    const DWORD asked = DWORD(qMin<qint64>(count, 1 << 30));
    if (!::WriteFile(handleOf(m_handle), buffer, asked, &put, nullptr)) {
        m_lastError = int(::GetLastError());
        return -1;
    }
    return put;
}

bool FileStream::resize(qint64 size)
{
    LARGE_INTEGER to;
    to.QuadPart = size;
    if (!::SetFilePointerEx(handleOf(m_handle), to, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(handleOf(m_handle))) {
        m_lastError = int(::GetLastError());
        return false;
    }
    return true;
}

QByteArray NativeFileName(const QString &fileName)
{
    return fileName.toLocal8Bit(); // only for showing: the system takes names as UTF-16
}

QString FileNameFromNative(QByteArrayView name)
{
    return QString::fromLocal8Bit(name);
}

namespace {

bool sameIdentity(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// A handle that reads only the attributes of a file or folder, whoever holds it.
HANDLE openForIdentity(const QString &name)
{
    return ::CreateFileW(nativeName(name).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A named file's volume, file index and number of names; false when it cannot be had.
bool identityOf(const QString &name, BY_HANDLE_FILE_INFORMATION &info)
{
    const HANDLE h = openForIdentity(name);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool known = ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    return known;
}

// Temporaries that carry a name until they replace their target. A console's control
// event (Ctrl+C, Ctrl+Break, its window closed, log-off, shut-down) removes them before the
// process ends; a commit holds the lock, so that the event waits until it is done.
std::recursive_mutex pendingLock;
QList<std::wstring> pendingNames;

QByteArray interruptNote; // written to standard error by a control event

BOOL WINAPI removePendingOnControlEvent(DWORD)
{
    const std::lock_guard lock(pendingLock);
    for (const std::wstring &name : std::as_const(pendingNames))
        ::DeleteFileW(name.c_str()); // the file goes when the process closes its handle
    pendingNames.clear();
    DWORD written = 0;
    if (!interruptNote.isEmpty())
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), interruptNote.constData(),
                    DWORD(interruptNote.size()), &written, nullptr);
    // Ended here with the status Windows gives a program that Ctrl+C ends (Wine's default
    // would exit with 0, a success): at once, as the main thread may be anywhere, holding
    // any lock; the handles close and the marked temporaries go with them.
    ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

void installControlHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { ::SetConsoleCtrlHandler(removePendingOnControlEvent, TRUE); });
}

void registerPending(const std::wstring &name)
{
    installControlHandler();
    const std::lock_guard lock(pendingLock);
    pendingNames.append(name);
}

void unregisterPending(const std::wstring &name)
{
    const std::lock_guard lock(pendingLock);
    pendingNames.removeAll(name);
}

// Marks an open file to be deleted when its last handle closes, or clears the mark: a
// temporary so marked goes with the process however it ends, TerminateProcess included.
bool setDeleteOnClose(HANDLE h, bool remove)
{
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = remove;
    return ::SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info);
}

// Creates a hidden temporary in folder, marked to be deleted
// on close and registered for the control events; the handle, or INVALID_HANDLE_VALUE with
// the system's code in error.
HANDLE createTemporary(const QString &folder, QString &name, DWORD &error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + u'/' + QLatin1StringView(temporaryName());
        const HANDLE h =
            ::CreateFileW(nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                          FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            setDeleteOnClose(h, true);
            registerPending(nativeName(name));
            return h;
        }
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    name.clear();
    return INVALID_HANDLE_VALUE;
}

} // namespace

FileReplacement::FileReplacement(const QString &fileName, const QStringList &inputs)
{
    m_target.m_fileName = fileName;
    if (fileName.isEmpty())
        throw Errors::createError(fileName, ERROR_FILE_NOT_FOUND);
    const QFileInfo info(fileName);
    m_finalName = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    const HANDLE probe = openForIdentity(m_finalName);
    BY_HANDLE_FILE_INFORMATION target = {};
    if (probe != INVALID_HANDLE_VALUE) {
        const bool known = ::GetFileInformationByHandle(probe, &target);
        const DWORD type = ::GetFileType(probe);
        ::CloseHandle(probe);
        if (known && (target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            throw Errors::createError(fileName, ERROR_ACCESS_DENIED);
        m_targetExists = true;
        for (const QString &input : inputs) {
            BY_HANDLE_FILE_INFORMATION in;
            if (known && identityOf(input, in) && sameIdentity(in, target))
                m_targetIsInput = true;
        }
        if (type != FILE_TYPE_DISK) {
            m_way = Way::Direct; // a device (NUL, CON) or a pipe, written as it is
            const HANDLE h = ::CreateFileW(nativeName(m_finalName).c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE)
                throw Errors::createError(fileName, int(::GetLastError()));
            m_target.m_handle = reinterpret_cast<qintptr>(h);
            return;
        }
        // An input is still to be read under its own sharing: the target is opened at commit.
        if (!m_targetIsInput) {
            const HANDLE h = ::CreateFileW(nativeName(m_finalName).c_str(), GENERIC_WRITE,
                                           FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE)
                throw Errors::createError(fileName, int(::GetLastError()));
            m_target.m_handle = reinterpret_cast<qintptr>(h);
        }
    }
    if (!m_targetExists || target.nNumberOfLinks <= 1) {
        DWORD error = 0;
        const HANDLE h =
            createTemporary(QFileInfo(m_finalName).absolutePath(), m_temporaryName, error);
        if (h != INVALID_HANDLE_VALUE) {
            m_temporary.m_handle = reinterpret_cast<qintptr>(h);
            return;
        }
        if (!m_targetExists || error != ERROR_ACCESS_DENIED)
            throw Errors::createError(fileName, int(error));
    }
    // The folder refuses new names, or the target has other names: the output is made in
    // the temporary folder and copied over the target at commit.
    m_way = Way::InPlace;
    const QString name = QDir::tempPath() + QStringLiteral("/quorvane-save-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces);
    const HANDLE h =
        ::CreateFileW(nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw Errors::createError(fileName, int(::GetLastError()));
    m_temporary.m_handle = reinterpret_cast<qintptr>(h);
}

FileReplacement::~FileReplacement()
{
    discardTemporary();
}

void FileReplacement::discardTemporary()
{
    const bool opened = m_temporary.isOpen();
    m_temporary.close();
    if (!m_temporaryName.isEmpty()) {
        const std::wstring name = nativeName(m_temporaryName);
        if (opened)
            ::DeleteFileW(name.c_str()); // when the mark to delete it on close did not take
        unregisterPending(name);
    }
    m_temporaryName.clear();
}

void FileReplacement::write(const char *data, qint64 size)
{
    const HANDLE to = handleOf(m_way == Way::Direct ? m_target.m_handle : m_temporary.m_handle);
    for (qint64 done = 0; done < size;) {
        DWORD put = 0;
        const DWORD asked = DWORD(qMin<qint64>(size - done, 1 << 30));
        if (!::WriteFile(to, data + done, asked, &put, nullptr) || put == 0)
            throw Errors::writeError();
        done += put;
    }
}

void FileReplacement::wrote(qint64) {}

void FileReplacement::copyOverTarget()
{
    if (!m_target.isOpen()) {
        int code = 0;
        m_target.m_fileName = m_finalName;
        const HANDLE h = ::CreateFileW(nativeName(m_finalName).c_str(), GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            code = int(::GetLastError());
        else
            m_target.m_handle = reinterpret_cast<qintptr>(h);
        if (code)
            throw Errors::createError(m_target.fileName(), code);
    }
    const HANDLE from = handleOf(m_temporary.m_handle);
    LARGE_INTEGER size = {}, zero = {};
    if (!::GetFileSizeEx(from, &size) || !::SetFilePointerEx(from, zero, nullptr, FILE_BEGIN))
        throw Errors::writeError();
    // The room is taken first, so that a full disk fails before any old byte is lost.
    LARGE_INTEGER old = {};
    ::GetFileSizeEx(handleOf(m_target.m_handle), &old);
    if (size.QuadPart > old.QuadPart && !m_target.resize(size.QuadPart))
        throw Errors::writeError();
    m_target.setPosition(0);
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(from, buffer.get(), 1 << 20, &got, nullptr))
            throw Errors::writeError();
        if (got == 0)
            break;
        for (DWORD done = 0; done < got;) {
            const qint64 put = m_target.write(buffer.get() + done, got - done);
            if (put <= 0)
                throw Errors::writeError();
            done += DWORD(put);
        }
    }
    if (!m_target.resize(size.QuadPart) || !::FlushFileBuffers(handleOf(m_target.m_handle)))
        throw Errors::writeError();
}

void FileReplacement::commit()
{
    if (m_way == Way::Direct)
        return;
    // A control event waits until the target holds the old bytes or the new.
    const std::lock_guard lock(pendingLock);
    if (m_way == Way::InPlace) {
        copyOverTarget();
        discardTemporary();
        return;
    }
    const HANDLE h = handleOf(m_temporary.m_handle);
    if (!::FlushFileBuffers(h))
        throw Errors::writeError();
    // Visible from now on, with the target's own attributes, and kept when closed.
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD old =
        m_targetExists ? ::GetFileAttributesW(nativeName(m_finalName).c_str()) : DWORD(0);
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes =
        old != INVALID_FILE_ATTRIBUTES && (old & kept) ? old & kept : FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) ||
        !setDeleteOnClose(h, false))
        throw Errors::writeError();
    m_temporary.close();
    // The target's handle is let go only now, just before the replacement.
    m_target.close();
    const std::wstring temporary = nativeName(m_temporaryName);
    const std::wstring target = nativeName(m_finalName);
    unregisterPending(temporary);
    // ReplaceFileW keeps the target's attributes, owner and security; a new target is moved in.
    const BOOL replaced =
        m_targetExists ? ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                       : ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
        ::DeleteFileW(temporary.c_str());
        m_temporaryName.clear();
        throw Errors::writeError();
    }
    m_temporaryName.clear();
}

qint64 FileSizeOf(const QString &fileName)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (fileName.isEmpty() ||
        !::GetFileAttributesExW(nativeName(fileName).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (qint64(data.nFileSizeHigh) << 32) + qint64(data.nFileSizeLow);
}

bool SameFile(const QString &first, const QString &second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return !first.isEmpty() && !second.isEmpty() && identityOf(first, a) && identityOf(second, b) &&
           sameIdentity(a, b);
}

bool FileExists(const QString &fileName)
{
    if (fileName.isEmpty())
        return false;
    const std::wstring name = nativeName(fileName);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD attributes = data.dwFileAttributes;
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return false;
        // A link: it exists when its target can be opened, or is held by another process.
        const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            return true;
        }
        return ::GetLastError() == ERROR_SHARING_VIOLATION;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME)
        return false;
    // The attributes are refused: look for the name in its folder instead.
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(name.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(search);
    return !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace Errors {

QString systemErrorText(int errorCode)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(errorCode), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString result = length ? QString::fromWCharArray(text, int(length)) : QString();
    ::LocalFree(text);
    return result;
}

int dosErrorCode(int errorCode)
{
    switch (errorCode) {
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
        return 3; // a name the system refuses
    default:
        return errorCode; // the system's codes are the DOS codes
    }
}

} // namespace Errors

QString decodeSystemCodePage(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return QString();
    const int size = int(bytes.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    QString text(length, Qt::Uninitialized);
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, reinterpret_cast<wchar_t *>(text.data()),
                          length);
    return text;
}

bool decodesAsLatin1(QByteArrayView bytes)
{
    // Every code page a system may use keeps ASCII; Windows-1252 differs from Latin-1 only
    // in 0x80-0x9F. differing: how many bytes from 0x80 on may decode to other characters.
    const unsigned differing = ::GetACP() == 1252 ? 0x20 : 0x80;
    unsigned found = 0;
    for (const char c : bytes)
        found |= unsigned(uchar(c) - 0x80u < differing);
    return found == 0;
}

void appendSystemCodePage(QByteArray &bytes, QStringView text)
{
    if (text.isEmpty())
        return;
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size = int(text.size());
    // No best fit: a character the code page lacks becomes the substitute, not a look-alike
    // (U+0301 is not the acute accent 0xB4, nor a fullwidth letter its ASCII one).
    const UINT codePage = ::GetACP();
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length =
        ::WideCharToMultiByte(codePage, flags, wide, size, nullptr, 0, nullptr, nullptr);
    const qsizetype old = bytes.size();
    bytes.resize(old + length);
    ::WideCharToMultiByte(codePage, flags, wide, size, bytes.data() + old, length, nullptr,
                          nullptr);
}

void appendSystemCodePage(QByteArray &bytes, QLatin1StringView text)
{
    char16_t wide[4096]; // Latin-1 is UTF-16 without its high bytes
    for (qsizetype from = 0; from < text.size(); from += 4096) {
        const qsizetype n = qMin<qsizetype>(4096, text.size() - from);
        for (qsizetype i = 0; i < n; ++i)
            wide[i] = uchar(text[from + i].toLatin1());
        appendSystemCodePage(bytes, QStringView(wide, n));
    }
}

QByteArrayView systemCodePageBom()
{
    return ::GetACP() == CP_UTF8 ? QByteArrayView("\xEF\xBB\xBF") : QByteArrayView();
}

bool SpillFile::create()
{
    const QString name =
        QDir::toNativeSeparators(QDir::tempPath() + QStringLiteral("/quorvane-") +
                                 QUuid::createUuid().toString(QUuid::WithoutBraces));
    // Deleted by the system when the handle is closed, also when the process dies.
    const HANDLE handle = ::CreateFileW(
        reinterpret_cast<const wchar_t *>(name.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    m_handle = reinterpret_cast<qintptr>(handle);
    return true;
}

void SpillFile::release()
{
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

// Repeats a positioned transfer (ReadFile or WriteFile with an offset) until size bytes
// have moved: false when it fails or moves nothing before that.
template <typename Transfer> static bool transferAll(qint64 offset, qint64 size, Transfer transfer)
{
    for (qint64 done = 0; done < size;) {
        OVERLAPPED at = {};
        at.Offset = DWORD(quint64(offset + done) & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(quint64(offset + done) >> 32);
        DWORD n = 0;
        const DWORD want = DWORD(qMin<qint64>(size - done, 1 << 30));
        if (!transfer(done, want, &n, &at) || n == 0)
            return false;
        done += n;
    }
    return true;
}

bool SpillFile::writeAt(qint64 offset, const char *data, qint64 size)
{
    return transferAll(offset, size, [&](qint64 done, DWORD want, DWORD *n, OVERLAPPED *at) {
        return ::WriteFile(reinterpret_cast<HANDLE>(m_handle), data + done, want, n, at);
    });
}

bool SpillFile::read(qint64 offset, char *data, qint64 size) const
{
    return transferAll(offset, size, [&](qint64 done, DWORD want, DWORD *n, OVERLAPPED *at) {
        return ::ReadFile(reinterpret_cast<HANDLE>(m_handle), data + done, want, n, at);
    });
}

bool SourceFile::openShared()
{
    // Every sharing: other programs go on writing, renaming and deleting the file.
    const HANDLE handle = ::CreateFileW(nativeName(m_fileName).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle); // only a file's bytes can be read again
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(handle);
    return true;
}

bool SourceFile::blocksReplacement()
{
    // A file open by anyone cannot be renamed over, whatever its sharing.
    return true;
}

void SourceFile::release()
{
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool SourceFile::read(qint64 offset, char *data, qint64 size) const
{
    return transferAll(offset, size, [&](qint64 done, DWORD want, DWORD *n, OVERLAPPED *at) {
        return ::ReadFile(reinterpret_cast<HANDLE>(m_handle), data + done, want, n, at);
    });
}

void IgnoreFileSizeLimitSignal()
{
    // Windows ends no process for a file size limit: a failed write is an error.
}

void MakeStandardStreamsValid()
{
    // A standard handle that is missing stays missing: what the program opens never takes
    // its place, and a write to it fails.
}

void IgnoreBrokenPipeSignal()
{
    // A write to a pipe without a reader fails with ERROR_NO_DATA: no signal.
}

void AttachStandardStreams()
{
    // Output sent to a pipe or a file: the runtime's streams are tied to it.
    auto bind = [](DWORD which, FILE *stream) {
        const HANDLE handle = ::GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
            return false;
        const int fd = _open_osfhandle(intptr_t(handle), _O_BINARY);
        if (fd < 0)
            return false;
        if (_fileno(stream) < 0)
            std::freopen("NUL", "wb", stream);
        return _dup2(fd, _fileno(stream)) == 0;
    };
    const bool bound = bind(STD_OUTPUT_HANDLE, stdout);
    bind(STD_ERROR_HANDLE, stderr);
    if (!bound && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
}

void MakeStandardOutputBinary()
{
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StandardErrorIsTerminal()
{
    return _isatty(2) != 0;
}

QStringList ProgramArguments(int, char **)
{
    return QCoreApplication::arguments(); // from the UTF-16 command line
}

namespace {

// A standard handle's identity when it is a file on disk.
bool standardFile(DWORD which, BY_HANDLE_FILE_INFORMATION &info)
{
    const HANDLE h = ::GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(h, &info);
}

} // namespace

bool StandardOutputIs(const QString &fileName)
{
    BY_HANDLE_FILE_INFORMATION out, in;
    return standardFile(STD_OUTPUT_HANDLE, out) && !fileName.isEmpty() &&
           identityOf(fileName, in) && sameIdentity(in, out);
}

bool StandardOutputIsStandardInput()
{
    BY_HANDLE_FILE_INFORMATION out, in;
    return standardFile(STD_OUTPUT_HANDLE, out) && standardFile(STD_INPUT_HANDLE, in) &&
           sameIdentity(in, out);
}

void RunWithInterruptsHeld(const std::function<void()> &work)
{
    installControlHandler();
    const std::lock_guard lock(pendingLock);
    work();
}

void AddToInterruptNote(QByteArrayView text)
{
    installControlHandler();
    const std::lock_guard lock(pendingLock);
    interruptNote += text;
}

qint64 FileStream::copyFrom(FileStream &, qint64)
{
    return -2; // no copy inside the system here: the caller copies through a buffer
}
