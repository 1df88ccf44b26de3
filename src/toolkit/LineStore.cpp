#include "toolkit/LineStore.h"

#include <algorithm>

void LineStore::rebuildIndex() const
{
    m_firstLine.resize(m_chunks.size());
    qsizetype line = 0;
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        m_firstLine[c] = line;
        line += qsizetype(m_chunks[c].ends.size());
    }
    m_indexDirty = false;
}

std::pair<size_t, int> LineStore::locate(qsizetype index) const
{
    if (m_indexDirty)
        rebuildIndex();
    const auto it = std::upper_bound(m_firstLine.begin(), m_firstLine.end(), index);
    const size_t chunk = size_t(it - m_firstLine.begin()) - 1;
    return {chunk, int(index - m_firstLine[chunk])};
}

QStringView LineStore::line(qsizetype index) const
{
    const auto [c, k] = locate(index);
    const Chunk &chunk = m_chunks[c];
    return QStringView(chunk.text).sliced(chunk.start(k), chunk.ends[size_t(k)] - chunk.start(k));
}

void LineStore::append(QStringView line)
{
    if (m_chunks.empty() || m_chunks.back().ends.size() >= ChunkLines ||
        m_chunks.back().text.size() + line.size() > ChunkChars) {
        if (m_indexDirty)
            rebuildIndex();
        m_chunks.emplace_back();
        m_firstLine.push_back(m_count);
    }
    Chunk &chunk = m_chunks.back();
    chunk.text.append(line);
    chunk.ends.push_back(int(chunk.text.size()));
    ++m_count;
    m_characters += line.size();
}

void LineStore::appendToLast(QStringView text)
{
    Chunk &chunk = m_chunks.back();
    chunk.text.append(text);
    chunk.ends.back() = int(chunk.text.size());
    m_characters += text.size();
    splitIfLarge(m_chunks.size() - 1);
}

void LineStore::replace(qsizetype index, QStringView line)
{
    const auto [c, k] = locate(index);
    Chunk &chunk = m_chunks[c];
    const int start = chunk.start(k);
    const int oldLength = chunk.ends[size_t(k)] - start;
    chunk.text.replace(start, oldLength, line.toString());
    const int delta = int(line.size()) - oldLength;
    for (size_t i = size_t(k); i < chunk.ends.size(); ++i)
        chunk.ends[i] += delta;
    m_characters += delta;
    splitIfLarge(c);
}

void LineStore::insert(qsizetype index, QStringView line)
{
    if (index == m_count) {
        append(line);
        return;
    }
    const auto [c, k] = locate(index);
    Chunk &chunk = m_chunks[c];
    const int start = chunk.start(k);
    chunk.text.insert(start, line);
    const int delta = int(line.size());
    chunk.ends.insert(chunk.ends.begin() + k, start + delta);
    for (size_t i = size_t(k) + 1; i < chunk.ends.size(); ++i)
        chunk.ends[i] += delta;
    ++m_count;
    m_characters += delta;
    m_indexDirty = true;
    splitIfLarge(c);
}

void LineStore::remove(qsizetype first, qsizetype n)
{
    while (n > 0) {
        const auto [c, k] = locate(first);
        Chunk &chunk = m_chunks[c];
        const int take = int(qMin<qsizetype>(n, qsizetype(chunk.ends.size()) - k));
        const int start = chunk.start(k);
        const int end = chunk.ends[size_t(k + take - 1)];
        chunk.text.remove(start, end - start);
        chunk.ends.erase(chunk.ends.begin() + k, chunk.ends.begin() + k + take);
        for (size_t i = size_t(k); i < chunk.ends.size(); ++i)
            chunk.ends[i] -= end - start;
        if (chunk.ends.empty())
            m_chunks.erase(m_chunks.begin() + qsizetype(c));
        m_count -= take;
        m_characters -= end - start;
        m_indexDirty = true;
        n -= take;
    }
}

void LineStore::clear()
{
    m_chunks.clear();
    m_firstLine.clear();
    m_indexDirty = false;
    m_count = 0;
    m_characters = 0;
}

void LineStore::splitIfLarge(size_t c)
{
    Chunk &chunk = m_chunks[c];
    if (chunk.ends.size() <= 2 * ChunkLines && chunk.text.size() <= 2 * ChunkChars)
        return;
    if (chunk.ends.size() < 2)
        return; // one long line stays whole
    const int half = int(chunk.ends.size() / 2);
    Chunk tail;
    const int cut = chunk.ends[size_t(half - 1)];
    tail.text = chunk.text.mid(cut);
    for (size_t i = size_t(half); i < chunk.ends.size(); ++i)
        tail.ends.push_back(chunk.ends[i] - cut);
    chunk.text.truncate(cut);
    chunk.text.squeeze();
    chunk.ends.resize(size_t(half));
    m_chunks.insert(m_chunks.begin() + qsizetype(c) + 1, std::move(tail));
    m_indexDirty = true;
}
