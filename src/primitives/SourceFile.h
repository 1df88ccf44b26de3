#pragma once

#include "primitives/TextFile.h"

#include <QString>
#include <QtGlobal>
#include <memory>

// Where a reader of a source file stands: the line it has just handed out.
class SourcePosition
{
  public:
    virtual ~SourcePosition() = default;
    virtual qint64 lineNumber() const = 0; // from 1
    // The byte offset in the file where that line starts, or -1 when it is not known; it may
    // cost a pass over the line.
    virtual qint64 lineStartOffset() const = 0;
    // How the file's bytes decode to characters (its lines break at CR LF, CR and LF).
    virtual TextEncoding encoding() const = 0;
};

// A file whose bytes the program refers to instead of keeping a copy of them. It stays open
// for reading while every other program may still read it, write it, rename it or delete
// it, so its bytes may change under the program: whoever reads them checks what they read.
class SourceFile
{
  public:
    // Null when the file cannot be opened.
    static std::shared_ptr<const SourceFile> open(const QString &fileName);
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    const QString &fileName() const { return m_fileName; }
    // Whether an open source keeps the file's name from being replaced by a rename, its own
    // saves' included (Windows): the program then lets go of a file before it saves over it.
    static bool blocksReplacement(); // in the platform layer
    // Reads size bytes at offset; false when the system read fails or the file ends first.
    bool read(qint64 offset, char *data, qint64 size) const; // in the platform layer

  private:
    explicit SourceFile(const QString &fileName) : m_fileName(fileName) {}
    bool openShared(); // in the platform layer
    void release();    // in the platform layer

    QString m_fileName;
    qintptr m_handle = -1; // a file descriptor, or a Windows HANDLE
};
