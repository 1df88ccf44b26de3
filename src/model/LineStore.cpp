#include "model/LineStore.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

// Copies n characters into out as Latin-1 bytes; false (out then holds rubbish) when one
// of them lies above U+00FF, or with noNul is a NUL.
template <bool noNul = false>
static Q_ALWAYS_INLINE bool narrowInto(char *out, const char16_t *in, qsizetype n)
{
    return Scan::narrow < noNul ? Scan::Narrow::Latin1NoNul : Scan::Narrow::Latin1 > (out, in, n);
}

template <bool noNul, typename... Parts>
bool LineStore::appendToNarrowLast(bool thenNewLine, Parts... parts)
{
    if (m_chunks.empty())
        return false;
    Chunk &last = *m_chunks.back();
    const qsizetype size = (qsizetype(0) + ... + parts.size());
    if (!last.resident || last.source || last.isWide || last.size() + size > ChunkChars ||
        (thenNewLine && last.lines() >= ChunkLines))
        return false;
    const qsizetype old = last.narrow.size();
    last.narrow.resize(old + size);
    char *to = last.narrow.data() + old;
    const auto narrowed = [&](auto part) {
        if constexpr (std::is_same_v<decltype(part), QLatin1StringView>) {
            Scan::copyBytes(to, part.data(), part.size()); // Latin-1 already
        } else if (!narrowInto<noNul>(to, part.utf16(), part.size())) {
            return false;
        }
        to += part.size();
        return true;
    };
    if (!(narrowed(parts) && ...)) {
        last.narrow.resize(old);
        return false;
    }
    last.spillOffset = -1; // its copy in the spill file is out of date
    endRun();
    last.ends.back() = int(old + size);
    m_characters += size;
    if (thenNewLine) {
        last.ends.push_back(last.ends.back());
        ++m_count;
    }
    return true;
}

void LineStore::setCacheLimits(int chunks, qsizetype bytes)
{
    m_cacheChunks = chunks;
    m_cacheBytes = bytes;
    trimCache(nullptr);
}

void LineStore::spill(Chunk &chunk) const
{
    // A source chunk is dropped: its text is read again from the file.
    if (!chunk.source && chunk.spillOffset < 0) {
        const qint64 at = m_spill.write(chunk.ends, chunk.narrow, chunk.wide, chunk.isWide);
        if (at < 0) {
            chunk.pinned = true; // the disk is full: it stays here
            return;
        }
        chunk.spillOffset = at;
    }
    chunk.spilledLines = int(chunk.ends.size());
    chunk.spilledChars = int(chunk.size());
    chunk.narrow = QByteArray();
    chunk.wide = QString();
    chunk.ends = std::vector<int>();
    chunk.resident = false;
}

void LineStore::makeResident(Chunk &chunk) const
{
    chunk.lastUse = ++m_uses;
    if (chunk.resident)
        return;
    if (chunk.source) {
        readSource(chunk, chunk.narrow, chunk.wide, chunk.ends);
        chunk.resident = true;
        m_resident.push_back(&chunk);
        trimCache(&chunk);
        return;
    }
    if (!m_spill.read(chunk.spillOffset, chunk.spilledLines, chunk.spilledChars, chunk.isWide,
                      chunk.ends, chunk.narrow, chunk.wide)) {
        chunk.narrow = QByteArray();
        chunk.wide = QString();
        chunk.ends = std::vector<int>();
        throw Errors::readError();
    }
    chunk.resident = true;
    m_resident.push_back(&chunk);
    trimCache(&chunk);
}

void LineStore::trimCache(const Chunk *keep) const
{
    const Chunk *last = m_chunks.empty() ? nullptr : m_chunks.back().get();
    for (;;) {
        qsizetype bytes = 0;
        Chunk *oldest = nullptr;
        int candidates = 0;
        for (Chunk *chunk : m_resident) {
            // The chunk of a source run stays until the next line tells where it ends.
            if (chunk == last || chunk == keep || chunk->pinned || chunk == m_run.chunk ||
                chunk == m_full.chunk)
                continue;
            ++candidates;
            bytes += chunk->memoryBytes();
            if (!oldest || chunk->lastUse < oldest->lastUse)
                oldest = chunk;
        }
        if (!oldest || (candidates <= m_cacheChunks && bytes <= m_cacheBytes))
            return;
        spill(*oldest);
        if (!oldest->resident)
            forget(oldest);
    }
}

void LineStore::forget(const Chunk *chunk) const
{
    const auto it = std::find(m_resident.begin(), m_resident.end(), chunk);
    if (it != m_resident.end()) {
        *it = m_resident.back();
        m_resident.pop_back();
    }
}

const LineStore::Chunk &LineStore::resident(size_t c) const
{
    Chunk &chunk = *m_chunks[c];
    makeResident(chunk);
    return chunk;
}

LineStore::Chunk &LineStore::forEdit(size_t c)
{
    Chunk &chunk = *m_chunks[c];
    makeResident(chunk);
    chunk.spillOffset = -1;
    ownText(chunk);
    endRun();
    return chunk;
}

void LineStore::ownText(Chunk &chunk)
{
    chunk.source.reset();
}

namespace {

// The checksum of a chunk's text (its Latin-1 bytes or UTF-16) and line ends.
quint64 checksumOf(bool isWide, const QByteArray &narrow, const QString &wide,
                   const std::vector<int> &ends)
{
    constexpr size_t Seed = 0x51a7c0de;
    const size_t h = isWide ? qHashBits(wide.constData(), size_t(2 * wide.size()), Seed)
                            : qHashBits(narrow.constData(), size_t(narrow.size()), Seed);
    return qHashBits(ends.data(), ends.size() * sizeof(int), h);
}

} // namespace

// The same text as kept, which was last seen at seenAt: the caller's prefix, line after line,
// is not compared again. (Were it changed in place, the chunk's checksum would find it.)
static bool sameText(const QString &kept, const QChar *&seenAt, QStringView view)
{
    if (kept.size() != view.size())
        return false;
    if (view.isEmpty() || seenAt == view.data())
        return true;
    seenAt = view.data();
    return kept == view;
}

template <typename Add>
void LineStore::addFromSource(const std::shared_ptr<const SourceFile> &file,
                              const SourcePosition &reader, ItemsOfLine itemsOf, QStringView prefix,
                              QStringView suffix, bool fresh, Add add)
{
    if (m_itemFile.expired() || m_itemFileAt != file.get()) {
        m_run = m_full = {}; // another read of a file: what was under way ends here
        m_itemFile = file;
        m_itemFileAt = file.get();
        m_itemLine = 0;
    }
    const qint64 line = reader.lineNumber();
    m_itemsOfLine = line == m_itemLine ? m_itemsOfLine + 1 : 0;
    m_itemLine = line;
    qint64 start = -1; // where the line starts, found at most once an item
    auto lineStart = [&] {
        if (start < 0)
            start = reader.lineStartOffset();
        return start;
    };
    // A full chunk ends where the line after the one of its last item starts.
    if (m_full.chunk && line != m_full.lastLine) {
        seal(m_full, lineStart());
        m_full = {};
    }
    if (fresh) {
        if (m_run.chunk) { // its lines are all from the file, in order, up to here
            if (line != m_run.lastLine)
                seal(m_run, lineStart());
            else
                m_full = m_run;
        }
        m_run = {};
    } else if (m_run.chunk && (m_run.chunk != m_chunks.back().get() ||
                               !sameText(m_run.prefix, m_run.prefixAt, prefix) ||
                               !sameText(m_run.suffix, m_run.suffixAt, suffix) ||
                               line - m_run.firstLine > SourceRunLines)) {
        m_run = {}; // lines decorated otherwise, or too many lines: they stay its own
    }
    m_addingFromSource = true;
    bool added = false;
    try {
        added = add();
    } catch (...) {
        m_addingFromSource = false;
        m_run = m_full = {};
        throw;
    }
    m_addingFromSource = false;
    if (!added) {
        m_run = {}; // the caller adds the item another way
    } else if (fresh && file && lineStart() >= 0) {
        m_run = {m_chunks.back().get(),
                 file,
                 reader.encoding(),
                 lineStart(),
                 m_itemsOfLine,
                 itemsOf,
                 line,
                 line,
                 prefix.toString(),
                 suffix.toString(),
                 prefix.data(),
                 suffix.data(),
                 {},
                 {},
                 QtPrivate::isLatin1(prefix) && QtPrivate::isLatin1(suffix)};
        if (m_run.narrow) {
            m_run.narrowPrefix = m_run.prefix.toLatin1();
            m_run.narrowSuffix = m_run.suffix.toLatin1();
        }
    } else if (m_run.chunk) {
        m_run.lastLine = line;
    }
}

bool LineStore::putRunLine(QStringView line)
{
    Chunk &last = *m_run.chunk;
    const QByteArray &prefix = m_run.narrowPrefix, &suffix = m_run.narrowSuffix;
    const qsizetype old = last.narrow.size();
    const qsizetype size = prefix.size() + line.size() + suffix.size();
    if (!m_run.narrow || !last.resident || last.isWide || old + size > ChunkChars ||
        last.lines() >= ChunkLines || last.start(last.lines() - 1) != old)
        return false;
    last.narrow.resize(old + size);
    char *to = last.narrow.data() + old;
    Scan::copyBytes(to, prefix.constData(), prefix.size());
    if (!narrowInto<true>(to + prefix.size(), line.utf16(), line.size())) {
        last.narrow.resize(old);
        return false;
    }
    Scan::copyBytes(to + prefix.size() + line.size(), suffix.constData(), suffix.size());
    last.spillOffset = -1;
    last.ends.back() = int(old + size);
    last.ends.push_back(int(old + size));
    m_characters += size;
    ++m_count;
    return true;
}

template <typename View> bool LineStore::putRunItem(View item)
{
    Chunk &last = *m_run.chunk;
    const qsizetype old = last.narrow.size();
    if (!last.resident || last.isWide || old + item.size() > ChunkChars ||
        last.lines() >= ChunkLines)
        return false;
    last.narrow.resize(old + item.size());
    if constexpr (std::is_same_v<View, QLatin1StringView>) {
        Scan::copyBytes(last.narrow.data() + old, item.data(), item.size());
    } else if (!narrowInto(last.narrow.data() + old, item.utf16(), item.size())) {
        last.narrow.resize(old);
        return false;
    }
    last.spillOffset = -1;
    last.ends.push_back(int(old + item.size()));
    m_characters += item.size();
    ++m_count;
    return true;
}

qsizetype LineStore::appendLinesFromSource(QLatin1StringView bytes, const SourceFile *file,
                                           qint64 first, qint64 &lines)
{
    lines = 0;
    if (!continuesRun(file, first, {}, {}))
        return 0;
    Chunk &last = *m_run.chunk;
    if (!last.resident || last.isWide || last.lines() >= ChunkLines)
        return 0;
    const char *units = bytes.data();
    const qsizetype n = bytes.size();
    const qsizetype old = last.narrow.size();
    const int before = last.lines();
    // The lines' text is shorter than the bytes; room for a block of 16 written past it.
    last.narrow.resize(old + qBound(qsizetype(0), ChunkChars - old, n) + 16);
    char *out = last.narrow.data();
    qsizetype size = old, from = 0;
    Scan::Breaks breaks(units, n);
    for (int count = before; count < ChunkLines; ++count) {
        const qsizetype to = breaks.next(from);
        if (to == n || (units[to] == '\r' && to + 1 == n))
            break; // the line goes on after these bytes, or may
        const qsizetype length = to - from;
        if (size + length > ChunkChars || length > ChunkChars / 2)
            break; // a new chunk, or a long line (the load makes it the store's own)
        Scan::copyLine(out + size, units + from, length, units + n);
        size += length;
        last.ends.push_back(int(size));
        from = breaks.after(to);
    }
    last.narrow.resize(size);
    lines = last.lines() - before;
    if (lines > 0) {
        last.spillOffset = -1;
        m_characters += size - old;
        m_count += lines;
        m_itemLine = m_run.lastLine = first + lines - 1;
        m_itemsOfLine = 0;
    }
    return from;
}

bool LineStore::completeLastFromSourceGenerally(QStringView prefix, QStringView line,
                                                QStringView suffix,
                                                const std::shared_ptr<const SourceFile> &file,
                                                const SourcePosition &reader)
{
    if (lastLineLength() != 0)
        return false; // the line would go on the text already there
    // A line starts a chunk when it completes the empty line that one holds alone.
    const Chunk &last = *m_chunks.back();
    const bool fresh =
        last.resident && !last.source && last.ends.size() == 1 && last.ends.back() == 0;
    bool added = false;
    addFromSource(file, reader, nullptr, prefix, suffix, fresh, [&] {
        // Most often into a Latin-1 chunk in one step, that also finds a NUL.
        if (appendToNarrowLast<true>(true, prefix, line, suffix))
            return added = true;
        if (holdsNul(prefix) || holdsNul(line) || holdsNul(suffix))
            return false;
        completeLast(prefix, line, suffix);
        return added = true;
    });
    return added;
}

void LineStore::appendFromSource(QLatin1StringView item,
                                 const std::shared_ptr<const SourceFile> &file,
                                 const SourcePosition &reader)
{
    if (const qint64 line = reader.lineNumber();
        continuesRun(file.get(), line, {}, {}) &&
        continueRun(line, [&] { return putRunItem(item); }))
        return;
    addFromSource(file, reader, nullptr, {}, {}, startsChunk(item.size()), [&] {
        append(item);
        return true;
    });
}

bool LineStore::startsChunk(qsizetype length) const
{
    return m_chunks.empty() || m_chunks.back()->lines() >= ChunkLines ||
           m_chunks.back()->size() + length > ChunkChars;
}

void LineStore::appendFromSource(QStringView item, const std::shared_ptr<const SourceFile> &file,
                                 const SourcePosition &reader, ItemsOfLine itemsOf)
{
    if (const qint64 line = reader.lineNumber();
        continuesRun(file.get(), line, {}, {}) &&
        continueRun(line, [&] { return putRunItem(item); }))
        return;
    const bool fresh = startsChunk(item.size());
    addFromSource(file, reader, itemsOf, {}, {}, fresh, [&] {
        append(item);
        return true;
    });
}

void LineStore::seal(const SourceRun &run, qint64 end)
{
    Chunk &chunk = *run.chunk;
    std::shared_ptr<const SourceFile> file = run.file.lock();
    // A stretch longer than a chunk's text could take (items few in a long line) would be
    // read again whole for a few items: such a chunk keeps its text.
    if (!file || !chunk.resident || chunk.source || end <= run.begin ||
        end - run.begin > MaxStretchBytes)
        return;
    const quint64 checksum = checksumOf(chunk.isWide, chunk.narrow, chunk.wide, chunk.ends);
    chunk.source = SourceStretch{std::move(file), run.encoding, run.begin,  end,       checksum,
                                 run.itemsOf,     run.skip,     run.prefix, run.suffix};
}

namespace {

// A stretch of a file's bytes decoded as its reader or load decoded it; false when they do
// not decode.
bool decodeRange(QByteArrayView bytes, TextEncoding encoding, QString &text)
{
    switch (encoding) {
    case TextEncoding::Utf8: {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        text = utf8.decode(bytes);
        return !utf8.hasError();
    }
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        if (bytes.size() % 2)
            return false;
        text.resize(bytes.size() / 2);
        decodeUtf16(bytes.data(), text.size(), encoding == TextEncoding::Utf16LE,
                    reinterpret_cast<char16_t *>(text.data()));
        return true;
    default:
        text = decodeSystemCodePage(bytes);
        return true;
    }
}

// True when every byte lies below 0x80; eight at a time.
bool isAscii(QByteArrayView bytes)
{
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    quint64 all = 0;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        all |= word;
    }
    for (; i < n; ++i)
        all |= uchar(p[i]);
    return (all & 0x8080808080808080u) == 0;
}

// Copies the lines of ASCII bytes, each between prefix and suffix, to out (with room for
// 16 bytes more than chars) and the end of each to ends, up to lines lines; the characters
// copied, or -1 when they would be more than chars or the lines fewer than lines.
Q_NEVER_INLINE qsizetype copyAsciiLines(QByteArrayView bytes, QByteArrayView prefix, QByteArrayView suffix,
                         char *out, qsizetype chars, int *ends, int lines)
{
    const char *units = bytes.data();
    const qsizetype n = bytes.size();
    // First where each line ends (its break, or the end), then the copies: the loop that
    // copies then runs without a call.
    Scan::Breaks breaks(units, n);
    int found = 0;
    for (qsizetype from = 0; from < n && found < lines; ++found) {
        const qsizetype to = breaks.next(from);
        ends[found] = int(to);
        from = breaks.after(to);
    }
    if (found < lines)
        return -1;
    const qsizetype decoration = prefix.size() + suffix.size();
    qsizetype at = 0;
    qsizetype from = 0;
    for (int line = 0; line < lines; ++line) {
        const qsizetype to = ends[line];
        const qsizetype length = to - from;
        if (length + decoration > chars - at)
            return -1;
        Scan::copyBytes(out + at, prefix.data(), prefix.size());
        at += prefix.size();
        Scan::copyLine(out + at, units + from, length, units + n);
        at += length;
        Scan::copyBytes(out + at, suffix.data(), suffix.size());
        at += suffix.size();
        ends[line] = int(at);
        from = to + (to < n && units[to] == '\r' && to + 1 < n && units[to + 1] == '\n' ? 2 : 1);
    }
    return at;
}

} // namespace

void LineStore::readSource(const Chunk &chunk, QByteArray &narrow, QString &wide,
                           std::vector<int> &ends) const
{
    const qint64 size = chunk.source->end - chunk.source->begin;
    QByteArray bytes(size, Qt::Uninitialized);
    if (!chunk.source->file->read(chunk.source->begin, bytes.data(), size))
        throw Errors::readError();
    // What the chunk held: its counts while it is out of memory, else its own.
    const int lines = chunk.resident ? int(chunk.ends.size()) : chunk.spilledLines;
    const int chars = int(chunk.resident ? chunk.size() : chunk.spilledChars);
    ends.clear();
    ends.reserve(size_t(lines));
    if (chunk.isWide)
        wide.resize(chars);
    else
        narrow.resize(chars);
    int at = 0;
    bool same = true;
    if (!chunk.isWide && !chunk.source->itemsOf && isAscii(bytes) &&
        (chunk.source->encoding == TextEncoding::Utf8 ||
         chunk.source->encoding == TextEncoding::SystemCodePage)) {
        // ASCII bytes are their own Latin-1 text: the lines are copied as they are.
        same =
            QtPrivate::isLatin1(chunk.source->prefix) && QtPrivate::isLatin1(chunk.source->suffix);
        narrow.resize(chars + 16); // room for a block of 16 written past the end
        ends.resize(size_t(lines));
        const qsizetype copied =
            copyAsciiLines(bytes, chunk.source->prefix.toLatin1(), chunk.source->suffix.toLatin1(),
                           narrow.data(), chars, ends.data(), lines);
        same = same && copied >= 0;
        at = int(copied);
        narrow.resize(chars);
        verifySource(chunk, same, lines, chars, at, narrow, wide, ends);
        return;
    }
    QString text;
    same = decodeRange(bytes, chunk.source->encoding, text);
    bytes = QByteArray();
    // Puts text after the items taken so far; false when it does not fit or, in a Latin-1
    // chunk, is not Latin-1.
    auto put = [&](QStringView part) {
        if (part.isEmpty()) // (an empty prefix has no characters to point at)
            return true;
        if (part.size() > chars - at)
            return false;
        if (chunk.isWide)
            std::memcpy(wide.data() + at, part.data(), size_t(part.size()) * 2);
        else if (!narrowInto(narrow.data() + at, part.utf16(), part.size()))
            return false;
        at += int(part.size());
        return true;
    };
    int skip = chunk.source->skip;
    const std::function<void(QStringView)> take = [&](QStringView item) {
        if (skip > 0) {
            --skip;                            // an item of the chunk before
        } else if (int(ends.size()) < lines) { // not an item of the chunk after
            same = same && put(item);
            ends.push_back(at);
        }
    };
    // Lines break at CR LF, CR and LF, as the reader and the load break them.
    const auto *units = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype n = text.size();
    Scan::Breaks breaks(units, n);
    for (qsizetype from = 0; same && from < n && int(ends.size()) < lines;) {
        const qsizetype to = breaks.next(from);
        const QStringView line(units + from, to - from);
        from = breaks.after(to);
        if (chunk.source->itemsOf) {
            chunk.source->itemsOf(line, take);
        } else {
            same = put(chunk.source->prefix) && put(line) && put(chunk.source->suffix);
            ends.push_back(at);
        }
    }
    verifySource(chunk, same, lines, chars, at, narrow, wide, ends);
}

void LineStore::verifySource(const Chunk &chunk, bool same, int lines, int chars, int at,
                             QByteArray &narrow, QString &wide, std::vector<int> &ends)
{
    same = same && int(ends.size()) == lines && at == chars &&
           checksumOf(chunk.isWide, narrow, wide, ends) == chunk.source->checksum;
    if (!same) {
        narrow = QByteArray();
        wide = QString();
        ends = std::vector<int>();
        throw Errors::readError(); // the file changed since its lines were read
    }
}

void LineStore::rebuildIndex() const
{
    m_firstLine.resize(m_chunks.size());
    m_firstChar.resize(m_chunks.size());
    qsizetype line = 0, characters = 0;
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        m_firstLine[c] = line;
        m_firstChar[c] = characters;
        line += m_chunks[c]->lines();
        characters += m_chunks[c]->size();
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
    return m_firstChar[c] + resident(c).start(k);
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
    const Chunk &chunk = resident(low);
    const qsizetype within = offset - (m_firstChar[low] + separator * m_firstLine[low]);
    int first = 0, last = chunk.lines() - 1;
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
    return line(index, std::numeric_limits<qsizetype>::max());
}

QString LineStore::line(qsizetype index, qsizetype maxLength) const
{
    const auto [c, k] = locate(index);
    return lineOf(c, k, maxLength);
}

QString LineStore::lineOf(size_t c, int k, qsizetype maxLength) const
{
    const Chunk &spilled = *m_chunks[c];
    if (!spilled.resident && spilled.spilledChars > m_cacheBytes / 4)
        return readSpilledLine(spilled, k, maxLength);
    const Chunk &chunk = resident(c);
    const int length = chunk.ends[size_t(k)] - chunk.start(k);
    return chunk.text(chunk.start(k), int(qMin<qsizetype>(length, maxLength)));
}

QStringList LineStore::lines(qsizetype first, qsizetype count, qsizetype maxLength) const
{
    QStringList result;
    count = qMin(count, m_count - first);
    if (first < 0 || count <= 0)
        return result;
    result.reserve(count);
    auto [c, k] = locate(first);
    while (result.size() < count) {
        result << lineOf(c, k, maxLength);
        if (++k == m_chunks[c]->lines()) {
            ++c;
            k = 0;
        }
    }
    return result;
}

QString LineStore::readSpilledLine(const Chunk &chunk, int k, qsizetype maxLength) const
{
    if (chunk.source) {
        QByteArray narrow;
        QString wide;
        std::vector<int> ends;
        readSource(chunk, narrow, wide, ends);
        const int from = k == 0 ? 0 : ends[size_t(k - 1)];
        const int length = int(qMin<qsizetype>(ends[size_t(k)] - from, maxLength));
        return chunk.isWide ? wide.mid(from, length)
                            : QString::fromLatin1(narrow.constData() + from, length);
    }
    QString text;
    if (!m_spill.readLine(chunk.spillOffset, chunk.spilledLines, chunk.isWide, k, maxLength, text))
        throw Errors::readError();
    return text;
}

qsizetype LineStore::lineLength(qsizetype index) const
{
    const auto [c, k] = locate(index);
    const Chunk &chunk = resident(c);
    return chunk.ends[size_t(k)] - chunk.start(k);
}

void LineStore::startLine(qsizetype length)
{
    if (startsChunk(length)) {
        if (m_indexDirty)
            rebuildIndex();
        // Room for a chunk like the one before from the start, so that it grows without
        // being copied again.
        qsizetype room = ChunkChars / 8;
        if (!m_chunks.empty() && m_chunks.back()->resident) {
            // A full chunk gives back what its growth reserved, and may leave memory.
            Chunk &full = *m_chunks.back();
            room = qBound(qsizetype(ChunkChars / 64), full.size() + full.size() / 8,
                          qsizetype(ChunkChars));
            full.narrow.squeeze();
            full.wide.squeeze();
            full.ends.shrink_to_fit();
            full.lastUse = ++m_uses;
        }
        m_chunks.push_back(std::make_unique<Chunk>());
        m_chunks.back()->narrow.reserve(room);
        m_chunks.back()->ends.reserve(ChunkLines);
        m_resident.push_back(m_chunks.back().get());
        m_firstLine.push_back(m_count);
        m_firstChar.push_back(m_characters);
        trimCache(nullptr);
    }
    Chunk &chunk = lastForEdit();
    chunk.ends.push_back(int(chunk.size()));
    ++m_count;
}

bool LineStore::appendSpilled(QStringView line)
{
    if (line.size() <= ChunkChars || line.size() > std::numeric_limits<int>::max())
        return false;
    const int length = int(line.size());
    const bool wide = !QtPrivate::isLatin1(line);
    const qint64 at = m_spill.writeLine(line, wide);
    if (at < 0)
        return false;
    if (m_indexDirty)
        rebuildIndex();
    auto chunk = std::make_unique<Chunk>();
    chunk->isWide = wide;
    chunk->resident = false;
    chunk->spillOffset = at;
    chunk->spilledLines = 1;
    chunk->spilledChars = length;
    m_chunks.push_back(std::move(chunk));
    m_firstLine.push_back(m_count);
    m_firstChar.push_back(m_characters);
    ++m_count;
    m_characters += length;
    return true;
}

// Line ends are 32-bit offsets into their chunk: a line that would reach past them is
// more than the store can hold.
static void checkFits(qsizetype chunkSize, qsizetype more)
{
    if (more > std::numeric_limits<int>::max() - chunkSize)
        throw Errors::memoCapacityError();
}

template <typename View> bool LineStore::appendToNarrowChunk(View line)
{
    if (m_chunks.empty() || line.size() > ChunkChars || !m_chunks.back()->resident ||
        m_chunks.back()->ends.empty() || m_chunks.back()->lines() >= ChunkLines)
        return false;
    // A new line in the last chunk: an empty one, then the text on it.
    Chunk &last = *m_chunks.back();
    last.ends.push_back(last.ends.back());
    ++m_count;
    if (appendToNarrowLast<false>(false, line))
        return true;
    last.ends.pop_back();
    --m_count;
    return false;
}

void LineStore::append(QStringView line)
{
    if (appendToNarrowChunk(line))
        return;
    if (line.size() > ChunkChars && appendSpilled(line))
        return;
    checkFits(0, line.size());
    startLine(line.size());
    Chunk &chunk = *m_chunks.back();
    chunk.insertText(int(chunk.size()), line);
    chunk.ends.back() = int(chunk.size());
    m_characters += line.size();
}

void LineStore::append(QLatin1StringView line)
{
    // Copied as it is into a Latin-1 last chunk with room for it.
    if (!appendToNarrowChunk(line))
        append(QString(line)); // a new chunk, a wide one, a huge line
}

bool LineStore::completeLastIfNarrow(QStringView first, QStringView second, QStringView third)
{
    return appendToNarrowLast<true>(true, first, second, third);
}

void LineStore::completeLast(QStringView first, QStringView second, QStringView third)
{
    // A text of one part (the scan's lines) takes the step without the other two.
    if (second.isEmpty() && third.isEmpty() ? appendToNarrowLast<false>(true, first)
                                            : appendToNarrowLast<false>(true, first, second, third))
        return; // the common case of a scan, at the cost of one copy
    appendToLast(first);
    for (const QStringView part : {second, third})
        if (!part.isEmpty()) // a huge first part went to a chunk of its own, left alone
            appendToLast(part);
    startLine(0);
}

qsizetype LineStore::spilledLastLineLength() const
{
    const Chunk &chunk = resident(m_chunks.size() - 1);
    return chunk.ends.back() - chunk.start(chunk.lines() - 1);
}
void LineStore::appendToLast(QStringView text)
{
    if (text.size() > ChunkChars && lastLineLength() == 0) {
        // A huge line in place of an empty last one goes to the spill file at once.
        Chunk &last = forEdit(m_chunks.size() - 1);
        last.ends.pop_back();
        --m_count;
        if (appendSpilled(text)) {
            if (last.ends.empty()) {
                forget(&last);
                m_chunks.erase(m_chunks.end() - 2);
                m_indexDirty = true;
            }
            return;
        }
        last.ends.push_back(int(last.size()));
        ++m_count;
    }
    Chunk &chunk = lastForEdit();
    checkFits(chunk.size(), text.size());
    chunk.insertText(int(chunk.size()), text);
    chunk.ends.back() = int(chunk.size());
    m_characters += text.size();
    if (chunk.size() > 2 * ChunkChars)
        splitIfLarge(m_chunks.size() - 1);
}

void LineStore::replace(qsizetype index, QStringView line)
{
    const auto [c, k] = locate(index);
    Chunk &chunk = forEdit(c);
    checkFits(chunk.size(), line.size());
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
    size_t balanceAt = size_t(-1);
    while (n > 0) {
        const auto [c, k] = locate(first);
        Chunk &chunk = forEdit(c);
        const int take = int(qMin<qsizetype>(n, qsizetype(chunk.ends.size()) - k));
        const int start = chunk.start(k);
        const int end = chunk.ends[size_t(k + take - 1)];
        chunk.removeText(start, end - start);
        chunk.ends.erase(chunk.ends.begin() + k, chunk.ends.begin() + k + take);
        for (size_t i = size_t(k); i < chunk.ends.size(); ++i)
            chunk.ends[i] -= end - start;
        if (chunk.ends.empty()) {
            forget(&chunk);
            m_chunks.erase(m_chunks.begin() + qsizetype(c));
        }
        m_count -= take;
        m_characters -= end - start;
        m_indexDirty = true;
        n -= take;
        balanceAt = c;
    }
    if (balanceAt != size_t(-1))
        balance(balanceAt, balanceAt + 1);
}

void LineStore::clear()
{
    m_run = m_full = {};
    m_itemFile.reset();
    m_itemFileAt = nullptr;
    m_itemLine = 0;
    m_chunks.clear();
    m_resident.clear();
    m_spill.clear();
    m_firstLine.clear();
    m_firstChar.clear();
    m_indexDirty = false;
    m_count = 0;
    m_characters = 0;
}

bool LineStore::mergeIfSmall(size_t c)
{
    if (c + 1 >= m_chunks.size())
        return false;
    const Chunk &a = *m_chunks[c], &b = *m_chunks[c + 1];
    auto small = [](const Chunk &chunk) {
        return chunk.lines() < ChunkLines / 2 && chunk.size() < ChunkChars / 2;
    };
    if ((!small(a) && !small(b)) || a.lines() + b.lines() > ChunkLines ||
        a.size() + b.size() > ChunkChars)
        return false;
    // The second chunk's text in hand first: bringing the first one in may send it out.
    const Chunk &second = resident(c + 1);
    const QString text = second.isWide ? second.wide : QString::fromLatin1(second.narrow);
    const std::vector<int> ends = second.ends;
    Chunk &first = forEdit(c);
    const int base = int(first.size());
    first.insertText(base, text);
    for (const int end : ends)
        first.ends.push_back(base + end);
    forget(m_chunks[c + 1].get());
    m_chunks.erase(m_chunks.begin() + qsizetype(c) + 1);
    m_indexDirty = true;
    return true;
}

void LineStore::balance(size_t from, size_t to)
{
    for (size_t c = from > 0 ? from - 1 : 0; c <= to && c + 1 < m_chunks.size();) {
        if (!mergeIfSmall(c)) {
            ++c;
        } else if (to > 0) {
            --to; // the chunks after c moved down by one
        }
    }
    checkShape();
}

void LineStore::checkShape() const
{
#ifndef QT_NO_DEBUG
    qsizetype lines = 0;
    for (const auto &chunk : m_chunks) {
        Q_ASSERT(chunk->lines() > 0);
        Q_ASSERT(chunk->lines() <= 2 * ChunkLines);
        Q_ASSERT(!chunk->source || chunk->source->begin < chunk->source->end);
        lines += chunk->lines();
    }
    Q_ASSERT(lines == m_count);
#endif
}

void LineStore::splitIfLarge(size_t c)
{
    const Chunk &chunk = *m_chunks[c];
    if (chunk.ends.size() <= 2 * ChunkLines && chunk.size() <= 2 * ChunkChars)
        return;
    if (chunk.ends.size() < 2)
        return; // one long line stays whole
    splitChunk(c, int(chunk.ends.size() / 2));
}

void LineStore::splitChunk(size_t c, int line)
{
    Chunk &chunk = forEdit(c);
    const int cut = chunk.start(line);
    auto tail = std::make_unique<Chunk>();
    tail->isWide = chunk.isWide;
    tail->lastUse = chunk.lastUse;
    if (chunk.isWide) {
        tail->wide = chunk.wide.mid(cut);
        chunk.wide.truncate(cut);
        chunk.wide.squeeze();
    } else {
        tail->narrow = chunk.narrow.mid(cut);
        chunk.narrow.truncate(cut);
        chunk.narrow.squeeze();
    }
    for (size_t i = size_t(line); i < chunk.ends.size(); ++i)
        tail->ends.push_back(chunk.ends[i] - cut);
    chunk.ends.resize(size_t(line));
    m_resident.push_back(tail.get());
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
    std::vector<std::unique_ptr<Chunk>> fresh;
    for (const QString &line : lines) {
        if (fresh.empty() || fresh.back()->ends.size() >= ChunkLines ||
            fresh.back()->size() + line.size() > ChunkChars)
            fresh.push_back(std::make_unique<Chunk>());
        Chunk &chunk = *fresh.back();
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
    for (const auto &chunk : fresh) {
        chunk->lastUse = ++m_uses;
        m_resident.push_back(chunk.get());
    }
    const size_t added = fresh.size();
    m_chunks.insert(m_chunks.begin() + qsizetype(c), std::make_move_iterator(fresh.begin()),
                    std::make_move_iterator(fresh.end()));
    m_indexDirty = true;
    balance(c, c + added);
    trimCache(nullptr);
}

void LineStore::forEachLine(const std::function<void(QStringView)> &take) const
{
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        const Chunk &chunk = resident(c);
        // The chunk's text in hand: take may bring other chunks in and send this one out.
        const QString text = chunk.isWide ? chunk.wide : QString::fromLatin1(chunk.narrow);
        const std::vector<int> ends = chunk.ends;
        int from = 0;
        for (const int end : ends) {
            take(QStringView(text).sliced(from, end - from));
            from = end;
        }
    }
}

void LineStore::letGoOf(const QString &fileName) const
{
    if (!SourceFile::blocksReplacement())
        return;
    std::vector<std::pair<const SourceFile *, bool>> judged; // each file compared once
    for (const auto &chunk : m_chunks) {
        if (!chunk->source)
            continue;
        auto it = std::find_if(judged.begin(), judged.end(),
                               [&](const auto &j) { return j.first == chunk->source->file.get(); });
        if (it == judged.end())
            it = judged.insert(judged.end(), {chunk->source->file.get(),
                                              SameFile(chunk->source->file->fileName(), fileName)});
        if (it->second) {
            makeResident(*chunk);
            chunk->spillOffset = -1;
            ownText(*chunk);
        }
    }
}

void LineStore::readChunkOf(qsizetype line, ChunkText &out) const
{
    const auto [c, k] = locate(line);
    Chunk &chunk = *m_chunks[c];
    out.firstLine = line - k;
    out.isWide = chunk.isWide;
    if (chunk.resident) {
        chunk.lastUse = ++m_uses;
        out.ends = chunk.ends;
        if (chunk.isWide)
            out.wide = chunk.wide; // shared, not copied
        else
            out.narrow = chunk.narrow;
        return;
    }
    readOutOfMemory(chunk, out);
}

void LineStore::readOutOfMemory(const Chunk &chunk, ChunkText &out) const
{
    out.isWide = chunk.isWide;
    if (chunk.source) {
        readSource(chunk, out.narrow, out.wide, out.ends);
        return;
    }
    if (!m_spill.read(chunk.spillOffset, chunk.spilledLines, chunk.spilledChars, chunk.isWide,
                      out.ends, out.narrow, out.wide))
        throw Errors::readError();
}

void LineStore::write(const TextWriter &write, bool breakAfterLast) const
{
    QString wide;      // one chunk's lines with their breaks
    QByteArray narrow; // the same for a Latin-1 chunk
    ChunkText read;    // a chunk out of memory, read without passing through the cache
    for (size_t c = 0; c < m_chunks.size(); ++c) {
        const Chunk &chunk = *m_chunks[c];
        const bool breakLast = breakAfterLast || c + 1 < m_chunks.size();
        if (!chunk.resident)
            readOutOfMemory(chunk, read);
        const std::vector<int> &ends = chunk.resident ? chunk.ends : read.ends;
        const bool isWide = chunk.isWide;
        const int lines = int(ends.size());
        // Copies the lines of text (of characters T) into out with CR LF between them.
        auto gather = [&](auto &out, const auto *text, qsizetype size) {
            constexpr int Unit = int(sizeof(*text));
            // Room for one block of 16 bytes written past the end; it is cut off below.
            out.resize(size + 2 * (lines - (breakLast ? 0 : 1)) + 16 / Unit);
            auto *to = out.data();
            const auto *end = reinterpret_cast<const char *>(text + size);
            int from = 0;
            for (int k = 0; k < lines; ++k) {
                const int n = ends[size_t(k)] - from;
                Scan::copyLine(reinterpret_cast<char *>(to),
                               reinterpret_cast<const char *>(text + from), n * Unit, end);
                to += n;
                from += n;
                if (k + 1 < lines || breakLast) {
                    *to++ = '\r';
                    *to++ = '\n';
                }
            }
            out.resize(to - out.data());
        };
        if (isWide) {
            const QString &text = chunk.resident ? chunk.wide : read.wide;
            gather(wide, text.constData(), text.size());
            write(QStringView(wide));
        } else {
            const QByteArray &text = chunk.resident ? chunk.narrow : read.narrow;
            gather(narrow, text.constData(), text.size());
            write(QLatin1StringView(narrow));
        }
    }
}
