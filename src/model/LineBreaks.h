#pragma once

#include "primitives/TextFile.h"

#include <QStringView>

// Cuts text that arrives in pieces at its line breaks (CR LF, a lone CR or a lone LF; a
// CR LF pair split between two pieces is one break) and ends it at its first NUL, as a
// memo takes a loaded text.
class LineBreaks
{
  public:
    // Hands each stretch of the piece between breaks to text (once before each break and
    // once for the rest after the last one, empty ones included) and each break to
    // lineBreak.
    // Piece is a QStringView or a QLatin1StringView; text is handed views of the same kind.
    template <typename View, typename Text, typename Break>
    void feed(View piece, Text text, Break lineBreak)
    {
        feed(piece, text, lineBreak, [](View) { return qsizetype(0); });
    }
    // The same, where wholeLines is offered the rest of the piece at the start of the piece
    // and after each break, and may take whole lines of it at once, with their breaks: it
    // returns the length it took (0: none), which text and lineBreak are not handed.
    template <typename View, typename Text, typename Break, typename WholeLines>
    void feed(View piece, Text text, Break lineBreak, WholeLines wholeLines)
    {
        if (m_ended)
            return;
        if (const View shown = upToNul(piece); shown.size() != piece.size()) {
            piece = shown;
            m_ended = true;
        }
        const auto *chars = unitsOf(piece);
        const qsizetype size = piece.size();
        qsizetype start = m_afterCr && size > 0 && chars[0] == '\n' ? 1 : 0;
        m_afterCr = false;
        start += wholeLines(piece.sliced(start));
        Scan::Breaks breaks(chars, size);
        for (qsizetype i = start; (i = breaks.next(i)) < size;) {
            text(piece.sliced(start, i - start));
            lineBreak();
            if (chars[i] == '\r') {
                if (i + 1 == size)
                    m_afterCr = true;
                else if (chars[i + 1] == '\n')
                    ++i;
            }
            start = i + 1;
            start += wholeLines(piece.sliced(start));
            i = start;
        }
        text(piece.sliced(start));
    }
    // Nothing more is taken (the text met its NUL, or lines are added after it).
    void end() { m_ended = true; }

  private:
    static const char16_t *unitsOf(QStringView s)
    {
        return reinterpret_cast<const char16_t *>(s.utf16());
    }
    static const char *unitsOf(QLatin1StringView s) { return s.data(); }

    bool m_afterCr = false; // the last piece ended with a CR: an LF first is its pair
    bool m_ended = false;
};

// The memo's add-a-line rule: after an empty text or one ending with a line break, the line
// goes on the last line and a break follows it; otherwise a break comes first, and one more
// follows an empty line. The line is taken up to its first NUL, and a line cut there gets no
// break after it.
struct AddedLine
{
    QStringView shown;
    bool breakBefore;
    bool breakAfter;
};
inline AddedLine addedLine(QStringView line, bool lastLineEmpty)
{
    const QStringView shown = upToNul(line);
    const bool whole = shown.size() == line.size();
    if (lastLineEmpty)
        return {shown, false, whole};
    return {shown, true, whole && line.isEmpty()};
}
