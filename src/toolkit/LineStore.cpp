#include "toolkit/LineStore.h"

#include <algorithm>
#include <cstring>

QString LineStore::Chunk::text(int from, int n) const
{
    return isWide ? wide.mid(from, n) : QString::fromLatin1(narrow.constData() + from, n);
}

void LineStore::Chunk::insertText(int at, QStringView s)
{
    if (s.isEmpty())
        return;
    if (!isWide && !QtPrivate::isLatin1(s)) {
        wide = QString::fromLatin1(narrow);
        narrow = QByteArray();
        isWide = true;
    }
    if (isWide) {
        wide.insert(at, s);
        return;
    }
    const qsizetype old = narrow.size();
    narrow.resize(old + s.size());
    char *data = narrow.data();
    if (at < old)
        std::memmove(data + at + s.size(), data + at, size_t(old - at));
    const char16_t *in = s.utf16();
    for (qsizetype i = 0; i < s.size(); ++i)
        data[at + i] = char(in[i]);
}

void LineStore::Chunk::removeText(int at, int n)
{
    if (isWide)
        wide.remove(at, n);
    else
        narrow.remove(at, n);
}

void LineStore::rebuildIndex() const
{
    m_firstLine.resize(m_chunks.size());
    m_firstChar.resize(m_chunks.size());
    qsizetype line = 0, characters = 0;
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        m_firstLine[c] = line;
        m_firstChar[c] = characters;
        line += qsizetype(m_chunks[c].ends.size());
        characters += m_chunks[c].size();
    }
    m_indexDirty = false;
}

std::pair<size_t, int> LineStore::locate(qsizetype index) const
{
    if (m_indexDirty)
        rebuildIndex();
    if (index >= m_firstLine.back()) // the last chunk, where lines are added
        return {m_chunks.size() - 1, int(index - m_firstLine.back())};
    const auto it = std::upper_bound(m_firstLine.begin(), m_firstLine.end(), index);
    const size_t chunk = size_t(it - m_firstLine.begin()) - 1;
    return {chunk, int(index - m_firstLine[chunk])};
}

qsizetype LineStore::charactersBefore(qsizetype index) const
{
    if (index >= m_count)
        return m_characters;
    const auto [c, k] = locate(index);
    return m_firstChar[c] + m_chunks[c].start(k);
}

qsizetype LineStore::lineAtOffset(qsizetype offset, int separator) const
{
    if (m_count == 0)
        return 0;
    if (m_indexDirty)
        rebuildIndex();
    // The last chunk, then the last line in it, that starts at or before offset.
    size_t low = 0, high = m_chunks.size();
    while (high - low > 1) {
        const size_t mid = (low + high) / 2;
        if (m_firstChar[mid] + separator * m_firstLine[mid] <= offset)
            low = mid;
        else
            high = mid;
    }
    const Chunk &chunk = m_chunks[low];
    const qsizetype within = offset - (m_firstChar[low] + separator * m_firstLine[low]);
    int first = 0, last = int(chunk.ends.size()) - 1;
    while (first < last) {
        const int mid = (first + last + 1) / 2;
        if (chunk.start(mid) + qsizetype(separator) * mid <= within)
            first = mid;
        else
            last = mid - 1;
    }
    return m_firstLine[low] + first;
}

QString LineStore::line(qsizetype index) const
{
    const auto [c, k] = locate(index);
    const Chunk &chunk = m_chunks[c];
    return chunk.text(chunk.start(k), chunk.ends[size_t(k)] - chunk.start(k));
}

QString LineStore::line(qsizetype index, qsizetype maxLength) const
{
    const auto [c, k] = locate(index);
    const Chunk &chunk = m_chunks[c];
    const int length = chunk.ends[size_t(k)] - chunk.start(k);
    return chunk.text(chunk.start(k), int(qMin<qsizetype>(length, maxLength)));
}

qsizetype LineStore::lineLength(qsizetype index) const
{
    const auto [c, k] = locate(index);
    return m_chunks[c].ends[size_t(k)] - m_chunks[c].start(k);
}

void LineStore::startLine(qsizetype length)
{
    if (m_chunks.empty() || m_chunks.back().ends.size() >= ChunkLines ||
        m_chunks.back().size() + length > ChunkChars) {
        if (m_indexDirty)
            rebuildIndex();
        if (!m_chunks.empty()) { // a full chunk gives back what its growth reserved
            Chunk &full = m_chunks.back();
            full.narrow.squeeze();
            full.wide.squeeze();
            full.ends.shrink_to_fit();
        }
        m_chunks.emplace_back();
        m_firstLine.push_back(m_count);
        m_firstChar.push_back(m_characters);
    }
    Chunk &chunk = m_chunks.back();
    chunk.ends.push_back(int(chunk.size()));
    ++m_count;
}

void LineStore::completeLast(QStringView text)
{
    appendToLast(text);
    startLine(0);
}

qsizetype LineStore::lastLineLength() const
{
    const Chunk &chunk = m_chunks.back();
    return chunk.ends.back() - chunk.start(int(chunk.ends.size()) - 1);
}

void LineStore::append(QStringView line)
{
    startLine(line.size());
    Chunk &chunk = m_chunks.back();
    chunk.insertText(int(chunk.size()), line);
    chunk.ends.back() = int(chunk.size());
    m_characters += line.size();
}

void LineStore::appendToLast(QStringView text)
{
    Chunk &chunk = m_chunks.back();
    chunk.insertText(int(chunk.size()), text);
    chunk.ends.back() = int(chunk.size());
    m_characters += text.size();
    splitIfLarge(m_chunks.size() - 1);
}

void LineStore::replace(qsizetype index, QStringView line)
{
    const auto [c, k] = locate(index);
    Chunk &chunk = m_chunks[c];
    const int start = chunk.start(k);
    const int oldLength = chunk.ends[size_t(k)] - start;
    chunk.removeText(start, oldLength);
    chunk.insertText(start, line);
    const int delta = int(line.size()) - oldLength;
    for (size_t i = size_t(k); i < chunk.ends.size(); ++i)
        chunk.ends[i] += delta;
    m_characters += delta;
    m_indexDirty = true; // the chunks after this one start elsewhere
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
        chunk.removeText(start, end - start);
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
    m_firstChar.clear();
    m_indexDirty = false;
    m_count = 0;
    m_characters = 0;
}

void LineStore::splitIfLarge(size_t c)
{
    const Chunk &chunk = m_chunks[c];
    if (chunk.ends.size() <= 2 * ChunkLines && chunk.size() <= 2 * ChunkChars)
        return;
    if (chunk.ends.size() < 2)
        return; // one long line stays whole
    splitChunk(c, int(chunk.ends.size() / 2));
}

void LineStore::splitChunk(size_t c, int line)
{
    Chunk &chunk = m_chunks[c];
    const int cut = chunk.start(line);
    Chunk tail;
    tail.isWide = chunk.isWide;
    if (chunk.isWide) {
        tail.wide = chunk.wide.mid(cut);
        chunk.wide.truncate(cut);
        chunk.wide.squeeze();
    } else {
        tail.narrow = chunk.narrow.mid(cut);
        chunk.narrow.truncate(cut);
        chunk.narrow.squeeze();
    }
    for (size_t i = size_t(line); i < chunk.ends.size(); ++i)
        tail.ends.push_back(chunk.ends[i] - cut);
    chunk.ends.resize(size_t(line));
    m_chunks.insert(m_chunks.begin() + qsizetype(c) + 1, std::move(tail));
    m_indexDirty = true;
}

void LineStore::insertLines(qsizetype index, const QStringList &lines)
{
    if (index == m_count) {
        for (const QString &line : lines)
            append(line);
        return;
    }
    if (lines.isEmpty())
        return;
    std::vector<Chunk> fresh;
    for (const QString &line : lines) {
        if (fresh.empty() || fresh.back().ends.size() >= ChunkLines ||
            fresh.back().size() + line.size() > ChunkChars)
            fresh.emplace_back();
        Chunk &chunk = fresh.back();
        chunk.insertText(int(chunk.size()), line);
        chunk.ends.push_back(int(chunk.size()));
        m_characters += line.size();
    }
    m_count += lines.size();
    auto [c, k] = locate(index);
    if (k > 0) {
        splitChunk(c, k);
        ++c;
    }
    m_chunks.insert(m_chunks.begin() + qsizetype(c), std::make_move_iterator(fresh.begin()),
                    std::make_move_iterator(fresh.end()));
    m_indexDirty = true;
}

void LineStore::write(const TextWriter &write, bool breakAfterLast) const
{
    QString wide;      // one chunk's lines with their breaks
    QByteArray narrow; // the same for a Latin-1 chunk
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        const Chunk &chunk = m_chunks[c];
        const int lines = int(chunk.ends.size());
        const bool breakLast = breakAfterLast || c + 1 < m_chunks.size();
        // Copies the lines of text (of characters T) into out with CR LF between them.
        auto gather = [&](auto &out, const auto *text) {
            out.resize(chunk.size() + 2 * (lines - (breakLast ? 0 : 1)));
            auto *to = out.data();
            for (int k = 0; k < lines; ++k) {
                const int from = chunk.start(k), n = chunk.ends[size_t(k)] - from;
                std::memcpy(to, text + from, size_t(n) * sizeof(*text));
                to += n;
                if (k + 1 < lines || breakLast) {
                    *to++ = '\r';
                    *to++ = '\n';
                }
            }
        };
        if (chunk.isWide) {
            gather(wide, chunk.wide.constData());
            write(QStringView(wide));
        } else {
            gather(narrow, chunk.narrow.constData());
            write(QLatin1StringView(narrow));
        }
    }
}
