#include "model/MemoText.h"

#include "model/LineBreaks.h"

#include "primitives/Errors.h"

#include <limits>

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

qsizetype MemoText::addSourceLine(QStringView prefix, QStringView line, QStringView suffix,
                                  const std::shared_ptr<const SourceFile> &file,
                                  const SourcePosition &reader)
{
    if (m_lines.lastLineLength() == 0 &&
        prefix.size() + line.size() + suffix.size() <= LineStore::ChunkChars / 2 &&
        m_lines.completeLastFromSource(prefix, line, suffix, file, reader))
        return m_lines.count() - 2;
    return addLine(prefix, line, suffix); // a NUL or a long line: the memo's own
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

void MemoText::loadFromFile(const QString &fileName)
{
    // The lines are gathered in a store of their own as the file is decoded, so that a
    // failed load leaves the text as it was.
    LineStore lines;
    LineBreaks breaks;
    QString partial; // the start of a line that goes on in the next piece
    // A piece of text, decoded (QStringView) or Latin-1 bytes as they are (QLatin1StringView).
    auto take = [&](auto decoded) {
        decltype(decoded) piece; // the stretch of the piece before the next break
        breaks.feed(
            decoded, [&](decltype(decoded) stretch) { piece = stretch; },
            [&] {
                if (partial.isEmpty()) {
                    lines.append(piece);
                } else {
                    partial += piece;
                    lines.append(QStringView(partial));
                    partial.clear();
                }
            });
        partial += piece;
        if (partial.size() > std::numeric_limits<int>::max())
            throw Errors::memoCapacityError(); // a line longer than the memo holds
    };
    loadTextFile(
        fileName, m_encoding, [&](QStringView decoded) { take(decoded); },
        [&](QLatin1StringView bytes) { take(bytes); });
    lines.append(QStringView(partial));
    m_lines = std::move(lines);
}

void MemoText::saveToFile(const QString &fileName) const
{
    m_lines.letGoOf(fileName);
    saveTextFile(fileName, m_encoding,
                 [this](const TextWriter &write) { m_lines.write(write, false); });
}

MemoText::Position MemoText::endPosition() const
{
    return {m_lines.count() - 1, m_lines.lastLineLength()};
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
