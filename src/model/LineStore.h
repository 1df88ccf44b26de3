#pragma once

#include "model/ChunkSpill.h"
#include "model/StoreChunk.h"
#include "primitives/SourceFile.h"
#include "primitives/TextFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// Lines of text held compactly: chunks of up to ChunkLines lines and ChunkChars characters
// as they are added (edits may grow one to twice that before it is split, and merge small
// neighbours), each one string with the end offsets of its lines, so that a line costs its
// characters and four bytes, and an edit touches one chunk. A chunk whose characters all
// lie below U+0100 keeps them as single bytes (Latin-1), which halves the memory of
// mostly-ASCII text.
//
// Only a bounded cache of chunks stays in memory: the one being appended to and the ones
// used last. The others are written to a private spill file and read back, in one read,
// when a line of theirs is asked for; an edited chunk is written again when it leaves the
// cache. A chunk that cannot be written (a full disk) stays in memory.
//
// A chunk made of lines read in order from a file (completeLastFromSource) keeps no copy
// of them: it refers to their bytes in the file, which it decodes again when it is needed,
// and it is dropped from memory instead of being written. A checksum of its text, taken
// when the lines were read, is checked at each decoding: text that another program changed
// since then is never handed out (reading it fails with the read error). An edit of such a
// chunk makes its text the store's own.
class LineStore
{
  public:
    // A chunk holds at most this many lines and characters (a longer line has one of its own).
    static constexpr int ChunkLines = 8192;
    static constexpr int ChunkChars = 1 << 20;

    LineStore() = default;
    LineStore(LineStore &&) noexcept = default;
    LineStore &operator=(LineStore &&) noexcept = default;

    qsizetype count() const { return m_count; }
    QString line(qsizetype index) const;
    // At most the first maxLength characters of the line.
    QString line(qsizetype index, qsizetype maxLength) const;
    // Up to count lines from first on, each cut at maxLength characters: the lines on a
    // screen, found with one lookup.
    QStringList lines(qsizetype first, qsizetype count, qsizetype maxLength) const;
    qsizetype lineLength(qsizetype index) const;
    void append(QStringView line);
    void append(QLatin1StringView line);
    void appendToLast(QStringView text); // extends the last line (there must be one)
    // Extends the last line (there must be one), then adds an empty line after it.
    // The text may come in up to three parts, joined in order.
    void completeLast(QStringView first, QStringView second = {}, QStringView third = {});
    // The same when the last chunk is in memory, Latin-1 and has room, and the parts are
    // Latin-1 without a NUL; false, with nothing changed, otherwise.
    bool completeLastIfNarrow(QStringView first, QStringView second, QStringView third);
    using ItemsOfLine = ::ItemsOfLine;
    // completeLast(line) for a line that reader has just read whole from file (a line of
    // at most half a chunk): the chunks that come to hold only such lines,
    // one after the other, refer to file instead of keeping their text.
    bool completeLastFromSource(QStringView line, const std::shared_ptr<const SourceFile> &file,
                                const SourcePosition &reader)
    {
        return completeLastFromSource({}, line, {}, file, reader);
    }
    // The same for the line decorated: prefix + line + suffix. A chunk refers to the file for
    // the lines of one prefix and suffix. False, with nothing added, when a part holds a NUL
    // or the last line is not empty.
    // Inline: the steady case of a run runs once a line of a file of millions.
    bool completeLastFromSource(QStringView prefix, QStringView line, QStringView suffix,
                                const std::shared_ptr<const SourceFile> &file,
                                const SourcePosition &reader)
    {
        const qint64 number = reader.lineNumber();
        if (continuesRun(file.get(), number, prefix, suffix) &&
            continueRun(number, [&] { return putRunLine(line); }))
            return true;
        return completeLastFromSourceGenerally(prefix, line, suffix, file, reader);
    }
    // append(item) for an item that itemsOf finds in the line reader has just read whole
    // from file (at most half a chunk long), the items of every line being added in order:
    // the chunks that come to hold only such items refer to file the same way.
    void appendFromSource(QStringView item, const std::shared_ptr<const SourceFile> &file,
                          const SourcePosition &reader, ItemsOfLine itemsOf);
    // The same for a Latin-1 item.
    void appendFromSource(QLatin1StringView item, const std::shared_ptr<const SourceFile> &file,
                          const SourcePosition &reader);
    // Whole lines of Latin-1 bytes read in order from file, the first of them its line
    // number first, each ended by a CR LF, CR or LF in bytes (a CR at their end might be
    // the first half of a pair: its line is not whole yet): as many as go on with the
    // reference to file that the last chunk is, added with appendFromSource's result, but
    // at once. Returns the bytes they took with their breaks, and their count in lines; 0
    // where the next line has to take appendFromSource (it starts a chunk).
    qsizetype appendLinesFromSource(QLatin1StringView bytes, const SourceFile *file, qint64 first,
                                    qint64 &lines);
    qsizetype lastLineLength() const
    {
        const Chunk &last = *m_chunks.back();
        if (!last.resident)
            return spilledLastLineLength();
        return last.ends.back() - (last.ends.size() > 1 ? last.ends[last.ends.size() - 2] : 0);
    }
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
    // Hands every line to take, in order.
    void forEachLine(const std::function<void(QStringView)> &take) const;
    // Where a file open for its chunks would keep a save from replacing fileName
    // (SourceFile::blocksReplacement), the chunks that refer to that file read it and
    // keep their text: the file is let go of.
    void letGoOf(const QString &fileName) const;

    // The lines of one chunk as a search reads them: their text, Latin-1 bytes (narrow) or
    // UTF-16 (wide), with no breaks between lines, and the end offset of each line in it.
    struct ChunkText
    {
        qsizetype firstLine = 0;
        bool isWide = false;
        QByteArray narrow;
        QString wide;
        std::vector<int> ends;
        qsizetype lineCount() const { return qsizetype(ends.size()); }
        qsizetype start(qsizetype k) const { return k == 0 ? 0 : ends[size_t(k - 1)]; }
    };
    // Reads the chunk that holds line (which must exist) into out, reusing its buffers. A
    // chunk out of memory is read in one read and left out: the cache stays as it was.
    void readChunkOf(qsizetype line, ChunkText &out) const;
    // Hands the text to write chunk by chunk, in order: every line followed by CR LF, the
    // last one only when breakAfterLast.
    void write(const TextWriter &write, bool breakAfterLast) const;

    // The cache: at most this many chunks and bytes stay in memory besides the last chunk.
    void setCacheLimits(int chunks, qsizetype bytes);
    qsizetype chunkCount() const { return qsizetype(m_chunks.size()); }
    qsizetype residentChunkCount() const { return qsizetype(m_resident.size()); }
    qint64 spilledBytes() const { return m_spill.size(); }

  private:
    using Chunk = StoreChunk;

    std::pair<size_t, int> locate(qsizetype index) const;
    void rebuildIndex() const;
    // An empty line at the end, in a new chunk when the last one cannot take length more
    // characters or another line.
    void startLine(qsizetype length);
    // Adds a line longer than a chunk holds as a chunk of its own written straight to the
    // spill file; false when it is not that long or cannot be written.
    bool appendSpilled(QStringView line);
    void splitIfLarge(size_t chunk);
    // Merges the chunk after chunk into it when one of the two is under half a chunk's
    // lines and characters and together they make no more than one; true when it did.
    bool mergeIfSmall(size_t chunk);
    // Merges small neighbours from the chunk before from to the one after to: edits that
    // split chunks and add lines of their own leave no trail of tiny chunks.
    void balance(size_t from, size_t to);
    // The store's shape (no empty chunk, none past twice the limit, the line count right),
    // checked where assertions are on.
    void checkShape() const;
    // Appends Latin-1 text (its parts joined; QStringView or QLatin1StringView) to the last
    // line when it lies in a resident Latin-1 chunk with room for it (and for one more line
    // when thenNewLine, which then starts an empty line); false, with nothing changed,
    // otherwise.
    template <bool noNul, typename... Parts>
    bool appendToNarrowLast(bool thenNewLine, Parts... parts);
    // Adds the line after the others in the last chunk, the same way; false, with nothing
    // changed, when it does not go there.
    template <typename View> bool appendToNarrowChunk(View line);
    void splitChunk(size_t chunk, int line); // lines from line on move to a chunk after it
    // The chunk in memory, read back from the spill file when it was not.
    const Chunk &resident(size_t chunk) const;
    // The same, for a change: its copy in the spill file is out of date from now on.
    Chunk &forEdit(size_t chunk);
    // The last chunk for a change; it is nearly always in memory already.
    Chunk &lastForEdit()
    {
        Chunk &last = *m_chunks.back();
        if (!last.resident || last.source)
            return forEdit(m_chunks.size() - 1);
        last.spillOffset = -1;
        endRun();
        return last;
    }
    void makeResident(Chunk &chunk) const;
    // Reads a chunk that is out of memory into out, leaving it out.
    void readOutOfMemory(const Chunk &chunk, ChunkText &out) const;
    // Decodes a source chunk's bytes into its text and line ends, checked against what was
    // read at first (the chunk's counts while it is out of memory, and its checksum);
    // throws the read error when they cannot be read or differ.
    void readSource(const Chunk &chunk, QByteArray &narrow, QString &wide,
                    std::vector<int> &ends) const;
    // Throws the read error, leaving the three empty, unless what readSource found is the
    // chunk's lines: same, the counts and the checksum.
    static void verifySource(const Chunk &chunk, bool same, int lines, int chars, int at,
                             QByteArray &narrow, QString &wide, std::vector<int> &ends);
    // The chunk's lines become its own: it no longer refers to a file.
    static void ownText(Chunk &chunk);
    qsizetype spilledLastLineLength() const;
    // Line k of chunk c, cut at maxLength characters.
    QString lineOf(size_t c, int k, qsizetype maxLength) const;
    // A line of a spilled chunk too big for the cache, read without bringing it back.
    QString readSpilledLine(const Chunk &chunk, int line, qsizetype maxLength) const;
    void spill(Chunk &chunk) const;
    // Writes out the least recently used chunks while the cache is over its limits; never
    // the last chunk nor keep.
    void trimCache(const Chunk *keep) const;
    void forget(const Chunk *chunk) const; // a chunk that is going away leaves the cache

    std::vector<std::unique_ptr<Chunk>> m_chunks;
    mutable std::vector<Chunk *> m_resident; // chunks in memory, in no order
    mutable ChunkSpill m_spill;
    mutable quint64 m_uses = 0;
    int m_cacheChunks = 64;
    qsizetype m_cacheBytes = 16 << 20;
    // The last chunk while every line in it was read in order from a file (but for the
    // memo's empty last line that the next one completes): the file, and where the line of
    // its first line (or item) starts. It refers to the file once it is known where the line
    // of its last item ends: when a chunk after it takes an item from a later line.
    struct SourceRun
    {
        Chunk *chunk = nullptr;
        std::weak_ptr<const SourceFile> file; // kept open by whoever reads it
        TextEncoding encoding = TextEncoding::Utf8;
        qint64 begin = 0;
        int skip = 0;
        ItemsOfLine itemsOf = nullptr;
        qint64 firstLine = 0; // the reader's number of the line of its first item
        qint64 lastLine = 0;  // and of its last item
        QString prefix, suffix;
        const QChar *prefixAt = nullptr, *suffixAt = nullptr; // where they were last seen
        QByteArray narrowPrefix, narrowSuffix;                // the same in Latin-1, while they are
        bool narrow = false;
    };
    SourceRun m_run;  // the chunk being filled
    SourceRun m_full; // a full chunk whose end is not known yet
    // A chunk refers to at most this many lines of a file (items may be few and far apart)
    static constexpr qint64 SourceRunLines = 8 * ChunkLines;
    // and at most this many of its bytes: a memo's chunk of 2 MiB characters takes at most
    // 6 MiB of UTF-8 and its line breaks.
    static constexpr qint64 MaxStretchBytes = 16 << 20;
    std::weak_ptr<const SourceFile> m_itemFile; // the file the last item came from
    const SourceFile *m_itemFileAt = nullptr;   // the same, compared at each item
    qint64 m_itemLine = 0;                      // and its line
    int m_itemsOfLine = 0;                      // items taken from that line before the last one
    bool m_addingFromSource = false; // an item from a file is being added: the run goes on
    // An edit by any other way: the chunks' lines are no longer all the file's.
    void endRun()
    {
        if (!m_addingFromSource)
            m_run = m_full = {};
    }
    // Adds an item from the line reader has just read, by add; fresh when it starts a chunk.
    template <typename Add>
    void addFromSource(const std::shared_ptr<const SourceFile> &file, const SourcePosition &reader,
                       ItemsOfLine itemsOf, QStringView prefix, QStringView suffix, bool fresh,
                       Add add);
    void seal(const SourceRun &run, qint64 end);
    // The steady case of whole lines read in order: line is the one after the last item's,
    // from the file of the run that the last chunk holds, decorated as the run is (the
    // caller's prefix and suffix where they were last seen). The caller then only has to
    // put it in the chunk's room; where it finds none, the general way takes the line.
    bool continuesRun(const SourceFile *file, qint64 line, QStringView prefix,
                      QStringView suffix) const
    {
        return m_run.chunk && m_run.chunk == m_chunks.back().get() && !m_full.chunk &&
               file == m_itemFileAt && line == m_itemLine + 1 &&
               line - m_run.firstLine <= SourceRunLines && m_run.prefix.size() == prefix.size() &&
               m_run.suffix.size() == suffix.size() &&
               (prefix.isEmpty() || prefix.data() == m_run.prefixAt) &&
               (suffix.isEmpty() || suffix.data() == m_run.suffixAt) && !m_itemFile.expired();
    }
    // Completes the last line, when it is empty, with such a line between the run's prefix
    // and suffix and starts the next, in the run's Latin-1 chunk where it has room; false,
    // with nothing changed, otherwise or when the line is not Latin-1 or holds a NUL.
    bool putRunLine(QStringView line);
    // completeLastFromSource for every other line: it may start a chunk, end the run, or
    // be the store's own.
    bool completeLastFromSourceGenerally(QStringView prefix, QStringView line, QStringView suffix,
                                         const std::shared_ptr<const SourceFile> &file,
                                         const SourcePosition &reader);
    // Adds such an item (a line of Open, an item of a list) after the last line the same
    // way.
    template <typename View> bool putRunItem(View item);
    // Puts such a line with put (putRunLine or putRunItem); true when it went in, the run
    // then at that line.
    template <typename Put> bool continueRun(qint64 line, Put put)
    {
        const bool added = put();
        if (added) {
            m_itemLine = m_run.lastLine = line;
            m_itemsOfLine = 0;
        }
        return added;
    }
    // Whether append starts a chunk for a line of this length.
    bool startsChunk(qsizetype length) const;
    mutable std::vector<qsizetype> m_firstLine; // first line number of each chunk
    mutable std::vector<qsizetype> m_firstChar; // characters before each chunk
    mutable bool m_indexDirty = false;
    qsizetype m_count = 0;
    qsizetype m_characters = 0;
};
