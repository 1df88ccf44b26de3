#include "model/MemoText.h"

#include "model/LineBreaks.h"

#include "primitives/Errors.h"

#include <limits>
#include <type_traits>

MemoText::MemoText()
{
    m_lines.append(u"");
}

void MemoText::clear()
{
    m_lines.clear();
    m_lines.append(u"");
}

qsizetype MemoText::addLine(QStringView line)
{
    const qsizetype last = m_lines.count() - 1;
    const AddedLine added = addedLine(line, m_lines.lastLineLength() == 0);
    if (!added.breakBefore) {
        if (added.breakAfter)
            m_lines.completeLast(added.shown);
        else
            m_lines.appendToLast(added.shown);
        return last;
    }
    m_lines.append(added.shown);
    if (added.breakAfter)
        m_lines.append(u"");
    return last + 1;
}

qsizetype MemoText::addLine(QStringView prefix, QStringView line, QStringView suffix)
{
    // The usual case: after a break, a line of no NUL and of common length goes on the
    // last line and a break follows; most often in one step into a Latin-1 chunk.
    if (m_lines.lastLineLength() == 0 &&
        prefix.size() + line.size() + suffix.size() <= LineStore::ChunkChars) {
        if (m_lines.completeLastIfNarrow(prefix, line, suffix))
            return m_lines.count() - 2;
        if (!holdsNul(prefix) && !holdsNul(line) && !holdsNul(suffix)) {
            m_lines.completeLast(prefix, line, suffix);
            return m_lines.count() - 2;
        }
    }
    QString decorated;
    decorated.reserve(prefix.size() + line.size() + suffix.size());
    decorated.append(prefix).append(line).append(suffix);
    return addLine(decorated);
}

qsizetype MemoText::addOwnLine(QStringView prefix, QStringView line, QStringView suffix)
{
    // A NUL or a long line: the memo's own (an undecorated one without a copy).
    return prefix.isEmpty() && suffix.isEmpty() ? addLine(line) : addLine(prefix, line, suffix);
}

QString MemoText::text() const
{
    QString text;
    text.reserve(m_lines.characterCount() + 2 * m_lines.count());
    for (qsizetype i = 0; i < m_lines.count(); ++i) {
        if (i)
            text += u"\r\n";
        text += m_lines.line(i);
    }
    return text;
}

void MemoText::setText(QStringView text)
{
    m_lines.clear();
    LineBreaks breaks; // one piece: each stretch is a whole line
    breaks.feed(
        text, [this](QStringView line) { m_lines.append(line); }, [] {});
}

namespace {

// Where the lines of a whole-file load start in the file: a piece of decoded text at a
// time, the offsets of its characters found from its bytes' offset.
class LoadPosition : public SourcePosition
{
  public:
    qint64 lineNumber() const override { return m_line; }
    qint64 lineStartOffset() const override
    {
        return m_lineIndex < 0 ? m_carriedStart : offsetIn(m_lineIndex);
    }
    TextEncoding encoding() const override { return m_encoding; }

    // A piece of bytes at offset, decoded to chars; false when its characters do not stand
    // one for one or two for one for its bytes, or as UTF-8 (a code page of several bytes to
    // a character): no offset is known from then on.
    bool startPiece(TextEncoding encoding, qint64 at, qint64 bytes, const void *chars,
                    qsizetype size, bool wide)
    {
        m_encoding = encoding;
        m_pieceAt = at;
        m_units = !wide                                                                    ? 1
                  : encoding == TextEncoding::Utf8                                         ? 0
                  : encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE ? 2
                  : size == bytes                                                          ? 1
                                                                                           : -1;
        m_chars = static_cast<const char16_t *>(chars);
        m_anchor = 0;
        m_anchorBytes = 0;
        m_known = m_known && m_units >= 0;
        return m_known;
    }
    // Lines were taken whole, at once.
    void linesTaken(qint64 lines) { m_line += lines; }
    // A line ends that started at index of this piece, or in an earlier one.
    void lineEnds(qsizetype index, bool startedBefore)
    {
        ++m_line;
        m_lineIndex = startedBefore ? -1 : index;
    }
    // A line starts at index of this piece and goes on in the next.
    void lineGoesOn(qsizetype index) { m_carriedStart = offsetIn(index); }

  private:
    qint64 offsetIn(qsizetype index) const
    {
        if (m_units > 0)
            return m_pieceAt + m_units * qint64(index);
        m_anchorBytes += utf8Length(m_chars + m_anchor, index - m_anchor); // lines go forward
        m_anchor = index;
        return m_pieceAt + m_anchorBytes;
    }

    TextEncoding m_encoding = TextEncoding::None;
    qint64 m_pieceAt = 0;
    int m_units = 1;
    const char16_t *m_chars = nullptr;
    mutable qsizetype m_anchor = 0;
    mutable qint64 m_anchorBytes = 0;
    bool m_known = true;
    qint64 m_line = 0;
    qsizetype m_lineIndex = -1;
    qint64 m_carriedStart = -1;
};

} // namespace

void MemoText::loadFromFile(const QString &fileName)
{
    // The lines are gathered in a store of their own as the file is decoded, so that a
    // failed load leaves the text as it was. They refer to the file where it can be opened
    // once more and their offsets are known.
    LineStore lines;
    if (m_cacheLimits)
        lines.setCacheLimits(m_cacheLimits->first, m_cacheLimits->second);
    LineBreaks breaks;
    QString partial; // the start of a line that goes on in the next piece
    const std::shared_ptr<const SourceFile> file = SourceFile::open(fileName);
    LoadPosition position;
    qint64 pieceAt = 0, pieceBytes = 0;
    // A piece of text, decoded (QStringView) or Latin-1 bytes as they are (QLatin1StringView).
    auto take = [&](auto decoded) {
        constexpr bool wide = std::is_same_v<decltype(decoded), QStringView>;
        const bool known = position.startPiece(m_encoding, pieceAt, pieceBytes, decoded.data(),
                                               decoded.size(), wide);
        auto add = [&](auto line) {
            if (file && known && line.size() <= LineStore::ChunkChars / 2) {
                if constexpr (std::is_same_v<decltype(line), QLatin1StringView>)
                    lines.appendFromSource(line, file, position);
                else
                    lines.appendFromSource(line, file, position, nullptr);
            } else {
                lines.append(line);
            }
        };
        decltype(decoded) piece; // the stretch of the piece before the next break
        breaks.feed(
            decoded, [&](decltype(decoded) stretch) { piece = stretch; },
            [&] {
                position.lineEnds(piece.data() - decoded.data(), !partial.isEmpty());
                if (partial.isEmpty()) {
                    add(piece);
                } else {
                    partial += piece;
                    add(QStringView(partial));
                    partial.clear();
                }
            },
            [&](decltype(decoded) rest) {
                // Latin-1 lines that go on a chunk of the file's lines, at once.
                qint64 taken = 0;
                qsizetype took = 0;
                if constexpr (!wide)
                    if (file && known && partial.isEmpty())
                        took = lines.appendLinesFromSource(rest, file.get(),
                                                           position.lineNumber() + 1, taken);
                position.linesTaken(taken);
                return took;
            });
        if (partial.isEmpty() && known && piece.data()) // (none after a NUL)
            position.lineGoesOn(piece.data() - decoded.data());
        partial += piece;
        if (partial.size() > std::numeric_limits<int>::max())
            throw Errors::memoCapacityError(); // a line longer than the memo holds
    };
    loadTextFile(
        fileName, m_encoding, [&](QStringView decoded) { take(decoded); },
        [&](QLatin1StringView bytes) { take(bytes); },
        [&](qint64 at, qint64 bytes) {
            pieceAt = at;
            pieceBytes = bytes;
        });
    lines.append(QStringView(partial));
    m_lines = std::move(lines);
}

void MemoText::saveToFile(const QString &fileName) const
{
    m_lines.letGoOf(fileName);
    saveTextFile(fileName, m_encoding,
                 [this](const TextWriter &write) { m_lines.write(write, false); });
}

MemoText::Position MemoText::clamp(Position p) const
{
    p.line = qBound<qsizetype>(0, p.line, m_lines.count() - 1);
    p.column = qBound<qsizetype>(0, p.column, m_lines.lineLength(p.line));
    return p;
}

MemoText::Position MemoText::positionBefore(Position p) const
{
    if (p.column > 0)
        return {p.line, p.column - 1};
    return p.line > 0 ? Position{p.line - 1, m_lines.lineLength(p.line - 1)} : p;
}

MemoText::Position MemoText::positionAfter(Position p) const
{
    if (p.column < m_lines.lineLength(p.line))
        return {p.line, p.column + 1};
    return p.line + 1 < m_lines.count() ? Position{p.line + 1, 0} : p;
}

qsizetype MemoText::offsetOf(Position position) const
{
    const Position p = clamp(position);
    return m_lines.charactersBefore(p.line) + 2 * p.line + p.column;
}

MemoText::Position MemoText::positionAt(qsizetype offset) const
{
    const qsizetype line = m_lines.lineAtOffset(qMax<qsizetype>(0, offset), 2);
    return clamp({line, offset - (m_lines.charactersBefore(line) + 2 * line)});
}

qsizetype MemoText::characterCount() const
{
    return m_lines.characterCount() + 2 * (m_lines.count() - 1);
}

QString MemoText::textBetween(Position from, Position to) const
{
    if (from.line == to.line)
        return m_lines.line(from.line).sliced(from.column, to.column - from.column);
    QString text = m_lines.line(from.line).sliced(from.column);
    for (qsizetype i = from.line + 1; i < to.line; ++i)
        text += QStringLiteral("\r\n") + m_lines.line(i);
    return text + QStringLiteral("\r\n") + m_lines.line(to.line).first(to.column);
}

void MemoText::remove(Position from, Position to)
{
    if (from == to)
        return;
    const QString joined =
        m_lines.line(from.line).first(from.column) + m_lines.line(to.line).sliced(to.column);
    m_lines.replace(from.line, joined);
    if (to.line > from.line)
        m_lines.remove(from.line + 1, to.line - from.line);
}

MemoText::Position MemoText::insert(Position at, QStringView text)
{
    QStringList parts;
    LineBreaks breaks;
    breaks.feed(
        text, [&](QStringView line) { parts << line.toString(); }, [] {});
    const QString current = m_lines.line(at.line);
    const QString head = current.first(at.column);
    const QString tail = current.sliced(at.column);
    if (parts.size() == 1) {
        m_lines.replace(at.line, head + parts[0] + tail);
        return {at.line, at.column + parts[0].size()};
    }
    m_lines.replace(at.line, head + parts[0]);
    QStringList added = parts.mid(1);
    added.last() += tail;
    m_lines.insertLines(at.line + 1, added);
    return {at.line + parts.size() - 1, parts.last().size()};
}
