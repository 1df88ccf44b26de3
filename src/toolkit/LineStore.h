#pragma once

#include "primitives/TextFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// Lines of text held compactly: chunks of up to a few thousand lines, each one string with
// the end offsets of its lines, so that a line costs its characters and four bytes, and
// an edit touches one chunk. A chunk whose characters all lie below U+0100 keeps them as
// single bytes (Latin-1), which halves the memory of mostly-ASCII text.
class LineStore
{
  public:
    qsizetype count() const { return m_count; }
    QString line(qsizetype index) const;
    // At most the first maxLength characters of the line.
    QString line(qsizetype index, qsizetype maxLength) const;
    qsizetype lineLength(qsizetype index) const;
    void append(QStringView line);
    void appendToLast(QStringView text); // extends the last line (there must be one)
    // Extends the last line (there must be one), then adds an empty line after it.
    void completeLast(QStringView text);
    qsizetype lastLineLength() const;
    void replace(qsizetype index, QStringView line);
    // Inserts lines before line index (index == count appends), in chunks of their own.
    void insertLines(qsizetype index, const QStringList &lines);
    void remove(qsizetype first, qsizetype n);
    void clear();
    qsizetype characterCount() const { return m_characters; }
    // Characters of the lines before line index.
    qsizetype charactersBefore(qsizetype index) const;
    // The line holding offset when every line is followed by separator characters (the
    // last line when offset lies beyond the end).
    qsizetype lineAtOffset(qsizetype offset, int separator) const;
    // Hands the text to write chunk by chunk, in order: every line followed by CR LF, the
    // last one only when breakAfterLast.
    void write(const TextWriter &write, bool breakAfterLast) const;

  private:
    struct Chunk
    {
        QByteArray narrow; // Latin-1 while every character fits
        QString wide;      // once one does not
        bool isWide = false;
        std::vector<int> ends; // end offset of each line in the text

        int start(int k) const { return k == 0 ? 0 : ends[size_t(k - 1)]; }
        qsizetype size() const { return isWide ? wide.size() : narrow.size(); }
        QString text(int from, int n) const;
        void insertText(int at, QStringView s);
        void removeText(int at, int n);
    };
    // An empty line at the end, in a new chunk when the last one cannot take length more
    // characters or another line.
    void startLine(qsizetype length);
    static constexpr int ChunkLines = 2048;
    static constexpr int ChunkChars = 1 << 20;

    std::pair<size_t, int> locate(qsizetype index) const;
    void rebuildIndex() const;
    void splitIfLarge(size_t chunk);
    void splitChunk(size_t chunk, int line); // lines from line on move to a chunk after it

    std::vector<Chunk> m_chunks;
    mutable std::vector<qsizetype> m_firstLine; // first line number of each chunk
    mutable std::vector<qsizetype> m_firstChar; // characters before each chunk
    mutable bool m_indexDirty = false;
    qsizetype m_count = 0;
    qsizetype m_characters = 0;
};
