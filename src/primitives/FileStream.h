#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

struct OpenMode;

// Mode words of file streams. A high byte of 0xFF creates (replaces) the file, any other
// high byte opens an existing one with the access of bits 0-1 and the sharing of bits 4-6.
namespace FileMode {
constexpr quint16 OpenReadDenyWrite = 0x0020;
constexpr quint16 CreateExclusive = 0xFF10;
constexpr quint16 CreateForSave = 0xFF00;
} // namespace FileMode

// A file opened or created with a mode word. Other openers are kept out as the sharing
// says: on Linux through open-file-description locks, which only other lock takers see.
class FileStream
{
  public:
    // Throws the open error (open modes) or the create error (create modes). A create
    // mode with truncate false leaves an existing file's bytes as they are.
    FileStream(const QString &fileName, quint16 mode, bool truncate = true);
    // Does not throw: on failure isOpen() is false and errorCode holds the system's code
    // (Errors::SharingViolation for a lock held by another opener).
    FileStream(const QString &fileName, quint16 mode, int &errorCode);
    FileStream() = default; // not open
    // The process's standard input (a pipe, a terminal or a file), read from where it is.
    struct StandardInput
    {
    };
    explicit FileStream(StandardInput);
    bool isOpen() const { return m_handle != -1; }
    ~FileStream();
    FileStream(const FileStream &) = delete;
    FileStream &operator=(const FileStream &) = delete;

    qint64 size() const;
    qint64 position() const;
    void setPosition(qint64 position);
    // Up to count bytes; 0 at the end of the file, -1 when the system read fails.
    qint64 read(char *buffer, qint64 count);
    // Bytes actually written; -1 when the system write fails.
    qint64 write(const char *buffer, qint64 count);
    // Copies up to count bytes from source's position to this stream's position inside the
    // system, without passing them through the program: bytes copied, -1 when the system
    // copy fails, -2 when the system offers no such copy between these files.
    qint64 copyFrom(FileStream &source, qint64 count);
    // Cuts the file (or lengthens it with zeros) to size bytes and moves to its end.
    bool resize(qint64 size);
    // The system's code for the last failed read or write.
    int lastError() const { return m_lastError; }
    void close();
    const QString &fileName() const { return m_fileName; }

  private:
    int open(quint16 mode, bool truncate, bool &create);
    int openHandle(const OpenMode &spec, bool truncate); // in the platform layer

    friend class FileReplacement;
    QString m_fileName;
    qintptr m_handle = -1; // a file descriptor, or a Windows HANDLE
    int m_lastError = 0;
};

// Told of a copy's progress after each of its steps (a chunk through the program, or a copy
// inside the system sized to take some 20 ms): the bytes copied so far. It may throw to end
// the copy there.
using CopyProgress = std::function<void(qint64 copied)>;

// A file's new content, made whole elsewhere before the target changes, so that the old
// file survives every failure or holds exactly the new bytes. Every file the program writes
// goes through it: a save, the join's destination, each cut piece.
// 1. a link is followed to the file it names, and a target that is one of the inputs is
//    neither locked nor touched before commit;
// 2. a device, pipe or socket is written directly, as a shell redirection would, never
//    replaced;
// 3. the output goes to a temporary beside the target (named relative to the target's
//    folder, created as a shell redirection creates a file) that replaces it at commit; only
//    when the folder refuses new names (permission), the target has other names (hard
//    links) or its owner, mode or extended attributes cannot be given to a new file, the
//    output goes to a temporary in the system's temporary folder and is copied over the
//    target at commit;
// 4. a replaced file keeps its owner, group, mode and extended attributes;
// 5. a replacement that ends uncommitted (a failure, a stop) removes its temporary, and so
//    does a program ended by SIGINT, SIGTERM or SIGHUP (on Windows by a console's control
//    event), which are held back while a commit renames or overwrites; on Windows a
//    temporary is also marked to be deleted when its handle closes until the commit, so a
//    process ended outright leaves none.
class FileReplacement
{
  public:
    // Throws the create error; the target is as it was.
    explicit FileReplacement(const QString &fileName, const QStringList &inputs = {});
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;
    void write(const char *data, qint64 size); // throws the write error
    // CopyFrom into the output: count bytes from source's position (0: the whole source).
    qint64 copyFrom(FileStream &source, qint64 count, const CopyProgress &progress = {});
    void commit(); // throws the write error

  private:
    enum class Way
    {
        Replace, // a temporary beside the target, renamed over it
        InPlace, // a temporary elsewhere, copied over the target
        Direct   // the target itself (a device, a pipe, a socket)
    };
    void wrote(qint64 size); // the system may start writing back what was written
    void copyOverTarget();   // the temporary's bytes become the target's
    void discardTemporary();

    Way m_way = Way::Replace;
    bool m_targetExists = false;
    bool m_targetIsInput = false;
    FileStream m_target;     // the existing target, open for writing
    QString m_finalName;     // the file a link names
    qintptr m_folder = -1;   // the target's folder, where the temporary is named
    QString m_temporaryName; // on POSIX relative to the folder; empty while it has no name
    FileStream m_temporary;
    qint64 m_written = 0;     // bytes written to a temporary beside the target
    qint64 m_writtenBack = 0; // of which the system was asked to start writing back
};

// File names as the system spells them. On POSIX systems a name is bytes: UTF-8, where a
// byte that is not part of a well-formed character is kept as the lone surrogate U+DC80 +
// (byte - 0x80), so that every name the system lists opens again.
QByteArray NativeFileName(const QString &fileName);
QString FileNameFromNative(QByteArrayView name);

// Copies count bytes from source's position to destination's position: inside the system
// where it can (in steps sized to take about 20 ms), else through a buffer of 61440 bytes;
// a source that ends early leaves only whole chunks of 61440 bytes copied. A count of 0 or
// below copies the whole source from its first byte.
// Returns the count it set out to copy. Throws the read or write error.
qint64 CopyFrom(FileStream &destination, FileStream &source, qint64 count,
                const CopyProgress &progress = {});

// For tests: work done just before each step of a copy (another program changing the
// source, a slow medium); empty for none.
std::function<void()> &BeforeCopyStepHook();

// For tests: true makes every temporary of a FileReplacement a named one, as on a file
// system that cannot make nameless files.
bool &NamedTemporariesOnly();

// Makes a write past the system's file size limit fail with the write error instead of
// ending the process.
void IgnoreFileSizeLimitSignal();

// Size in bytes from the file's attributes, or -1 when they cannot be had.
qint64 FileSizeOf(const QString &fileName);

// True for an existing file that is not a directory, following symbolic links.
bool FileExists(const QString &fileName);

// Where the name part of a file name starts: after its last '\\', '/' or ':'.
qsizetype NamePartStart(const QString &fileName);

// Index of a file name's extension dot (its last '.' when no '\\', '/' or ':' follows it),
// or -1 when the name has no extension.
qsizetype ExtensionDot(const QString &fileName);

// True when both names exist and lead to the same file, whatever their spelling (links,
// "..", other paths).
bool SameFile(const QString &first, const QString &second);
