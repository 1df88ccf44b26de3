#pragma once

#include "model/LineStore.h"
#include "primitives/TextFile.h"

#include <optional>
#include <utility>

// The text of a memo apart from its widget: lines separated by CR LF (always at least one
// line), the rules by which a line is added and a whole text is set, loaded and saved in
// the encoding of the last load, and the mapping between positions and character offsets.
class MemoText
{
  public:
    struct Position
    {
        qsizetype line = 0;
        qsizetype column = 0;
        auto operator<=>(const Position &) const = default;
    };

    MemoText();

    qsizetype lineCount() const { return m_lines.count(); }
    const LineStore &lines() const { return m_lines; }
    // The cache limits of its lines (LineStore), kept for the lines of later loads.
    void setCacheLimits(int chunks, qsizetype bytes)
    {
        m_cacheLimits = {chunks, bytes};
        m_lines.setCacheLimits(chunks, bytes);
    }
    QString line(qsizetype index) const { return m_lines.line(index); }
    QString line(qsizetype index, qsizetype maxLength) const
    {
        return m_lines.line(index, maxLength);
    }
    qsizetype lineLength(qsizetype index) const { return m_lines.lineLength(index); }
    QStringList lines(qsizetype first, qsizetype count, qsizetype maxLength) const
    {
        return m_lines.lines(first, count, maxLength);
    }

    void clear();
    // Adds a line at the end: after an empty text or one ending with CR LF the line and
    // CR LF; otherwise CR LF and the line, and one more CR LF for an empty line. The piece
    // added is taken up to its first NUL. Returns the index of the line that holds it.
    qsizetype addLine(QStringView line);
    // The same for the line prefix + line + suffix, without joining them first.
    qsizetype addLine(QStringView prefix, QStringView line, QStringView suffix);
    // addLine(prefix, line, suffix) for a line that reader has just read whole from file:
    // the lines of a file added one after the other are kept as references to its bytes
    // (LineStore).
    // Inline: it runs once a line of a file of millions.
    qsizetype addSourceLine(QStringView prefix, QStringView line, QStringView suffix,
                            const std::shared_ptr<const SourceFile> &file,
                            const SourcePosition &reader)
    {
        if (prefix.size() + line.size() + suffix.size() <= LineStore::ChunkChars / 2 &&
            m_lines.completeLastFromSource(prefix, line, suffix, file, reader))
            return m_lines.count() - 2;
        return addOwnLine(prefix, line, suffix);
    }
    // The whole text, lines separated by CR LF.
    QString text() const;
    // Replaces the text; line breaks (CR LF, CR, LF) separate lines, a NUL ends it.
    void setText(QStringView text);
    // Whole-file text load, block by block: the encoding of the file is recorded (also
    // when its decoding fails), and a failed load leaves the text as it was.
    void loadFromFile(const QString &fileName);
    // Whole-file text save in the encoding of the last load, else the system code page.
    void saveToFile(const QString &fileName) const;
    TextEncoding encoding() const { return m_encoding; }

    Position endPosition() const { return {m_lines.count() - 1, m_lines.lastLineLength()}; }
    Position clamp(Position p) const;
    Position positionBefore(Position p) const; // one character back, across line breaks
    Position positionAfter(Position p) const;
    // Offsets into text(), where every line but the last is followed by CR LF.
    qsizetype offsetOf(Position position) const;
    Position positionAt(qsizetype offset) const;
    qsizetype characterCount() const;
    QString textBetween(Position from, Position to) const;

    // Removes the text between two positions (from before to).
    void remove(Position from, Position to);
    // Inserts text (its line breaks separate lines) at a position; where it ends.
    Position insert(Position at, QStringView text);

  private:
    // addSourceLine's line that does not refer to the file.
    qsizetype addOwnLine(QStringView prefix, QStringView line, QStringView suffix);
    LineStore m_lines;
    TextEncoding m_encoding = TextEncoding::None;
    std::optional<std::pair<int, qsizetype>> m_cacheLimits;
};
