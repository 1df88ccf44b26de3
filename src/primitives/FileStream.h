#pragma once

#include <QString>
#include <QtGlobal>

struct ModeSpec;

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
    // The system's code for the last failed read or write.
    int lastError() const { return m_lastError; }
    void close();
    const QString &fileName() const { return m_fileName; }

  private:
    int open(quint16 mode, bool truncate, bool &create);
    int openHandle(const ModeSpec &spec, bool truncate); // in the platform layer

    friend class FileReplacement;
    QString m_fileName;
    qintptr m_handle = -1; // a file descriptor, or a Windows HANDLE
    int m_lastError = 0;
};

// A file's new content, written beside it and put in its place only once complete, so that
// a failed write leaves the old file as it was. The target is locked like a created stream
// meanwhile. Where no temporary file can be made beside it, where it cannot replace the
// target, or where the target has other names (hard links), the target is written in place.
class FileReplacement
{
  public:
    explicit FileReplacement(const QString &fileName); // throws the create error
    ~FileReplacement();
    void write(const char *data, qint64 size); // throws the write error
    void commit();                             // throws the write error

  private:
    void writeInPlace(); // the target itself receives the text from its start
    void discardTemporary();

    bool m_targetIsNew = false; // no file of that name existed: a failed save removes it
    bool m_committed = false;
    FileStream m_target;
    QString m_finalName;
    QString m_temporaryName;
    qintptr m_temporary = -1;
};

// Copies count bytes from source's position to destination's position in chunks of at
// most 61440 bytes; a count of 0 or below copies the whole source from its first byte.
// Returns the count it set out to copy. Throws the read or write error.
qint64 CopyFrom(FileStream &destination, FileStream &source, qint64 count);

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
