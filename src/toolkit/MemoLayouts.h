#pragma once

#include "model/MemoText.h"
#include "toolkit/LineRoom.h"

#include <QFont>
#include <QString>
#include <limits>
#include <memory>
#include <vector>

class QTextLayout;

// The lines of a memo on screen, laid out at the last paint, and the widest line laid out
// so far. Lines added below them leave the view as it is, so a long loop's pumps repaint
// only the scroll bar; a line laid out before and unchanged since keeps its layout as the
// view scrolls or grows.
class MemoLayouts
{
  public:
    // A line is drawn up to this many characters, then an ellipsis: laying out a line of
    // tens of millions of characters takes seconds, at every repaint.
    static constexpr int MaxShownColumns = 20000;
    static int shownColumn(qsizetype column)
    {
        return int(qMin<qsizetype>(column, MaxShownColumns));
    }

    // How lines are laid out: the font, wrapping, the width lines wrap at and the room
    // around each.
    struct Look
    {
        QFont font;
        bool wordWrap;
        int wrapWidth;
        LineRoom room;
    };
    struct VisibleLine
    {
        qsizetype line;
        int top;
        std::shared_ptr<QTextLayout> layout;
    };

    // The text, the wrap width or the font changed: every line is laid out again.
    void invalidate()
    {
        m_visibleDirty = true;
        m_layoutsStale = true;
    }
    // The view scrolled: the lines are placed again, their layouts kept.
    void moved() { m_visibleDirty = true; }
    // Lines from line on are about to change (lines are added at the end).
    void changedFrom(qsizetype line) { m_changedFrom = qMin(m_changedFrom, line); }
    // Whether the next paint lays out or places lines.
    bool needsRepaint() const;

    // The lines from first on that fill height, each at its top.
    const std::vector<VisibleLine> &visible(const MemoText &text, qsizetype first, int rows,
                                            int height, const Look &look);
    // A line of text laid out alone, cut to the limit.
    static std::shared_ptr<QTextLayout> layoutLine(const MemoText &text, qsizetype index,
                                                   const Look &look);

    // The width of the widest line laid out, or made visible by the cursor, since reset.
    int widest() const { return m_widest; }
    void widen(int width) { m_widest = qMax(m_widest, width); }
    void resetWidest() { m_widest = 0; }

  private:
    static std::shared_ptr<QTextLayout> layoutText(QString shown, const Look &look);

    std::vector<VisibleLine> m_visible;
    bool m_visibleDirty = true;
    // The laid-out lines of m_visible no longer match the text, wrap width or font; when
    // clear, lines before m_changedFrom keep their layouts.
    bool m_layoutsStale = true;
    bool m_viewFilled = false;
    qsizetype m_changedFrom = 0; // first line changed since the view was laid out
    int m_widest = 0;
};
