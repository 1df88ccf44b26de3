#pragma once

#include <QString>
#include <vector>

// Lines of text held compactly: chunks of up to a few thousand lines, each one string with
// the end offsets of its lines, so that a line costs its characters and four bytes, and
// an edit touches one chunk.
class LineStore
{
public:
    qsizetype count() const { return m_count; }
    QStringView line(qsizetype index) const;
    void append(QStringView line);
    void appendToLast(QStringView text); // extends the last line (there must be one)
    void replace(qsizetype index, QStringView line);
    void insert(qsizetype index, QStringView line); // before index; index == count appends
    void remove(qsizetype first, qsizetype n);
    void clear();
    qsizetype characterCount() const { return m_characters; }

private:
    struct Chunk
    {
        QString text;
        std::vector<int> ends; // end offset of each line in text
        int start(int k) const { return k == 0 ? 0 : ends[size_t(k - 1)]; }
    };
    static constexpr int ChunkLines = 2048;
    static constexpr int ChunkChars = 1 << 20;

    std::pair<size_t, int> locate(qsizetype index) const;
    void rebuildIndex() const;
    void splitIfLarge(size_t chunk);

    std::vector<Chunk> m_chunks;
    mutable std::vector<qsizetype> m_firstLine; // first line number of each chunk
    mutable bool m_indexDirty = false;
    qsizetype m_count = 0;
    qsizetype m_characters = 0;
};
