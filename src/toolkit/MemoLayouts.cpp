#include "toolkit/MemoLayouts.h"

#include <QTextLayout>
#include <cmath>

namespace {
constexpr QChar LoneCrSymbol(0x240D); // a CR inside a line is shown as this symbol
}

bool MemoLayouts::needsRepaint() const
{
    return m_visibleDirty || !m_viewFilled || m_visible.empty() ||
           m_changedFrom <= m_visible.back().line;
}

std::shared_ptr<QTextLayout> MemoLayouts::layoutLine(const MemoText &text, qsizetype index,
                                                     const Look &look)
{
    return layoutText(text.line(index, MaxShownColumns + 1), look);
}

std::shared_ptr<QTextLayout> MemoLayouts::layoutText(QString shown, const Look &look)
{
    if (shown.size() > MaxShownColumns) {
        shown.truncate(MaxShownColumns);
        shown += QChar(0x2026);
    }
    shown.replace(u'\r', LoneCrSymbol);
    auto layout = std::make_shared<QTextLayout>(shown, look.font);
    QTextOption option;
    option.setWrapMode(look.wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                     : QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    const qreal width = look.wordWrap ? qMax(1, look.wrapWidth) : 1e9;
    layout->beginLayout();
    qreal y = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y + look.room.above));
        y += look.room.above + line.height() + look.room.below;
    }
    layout->endLayout();
    return layout;
}

const std::vector<MemoLayouts::VisibleLine> &
MemoLayouts::visible(const MemoText &text, qsizetype first, int rows, int height, const Look &look)
{
    if (!needsRepaint())
        return m_visible;
    std::vector<VisibleLine> before;
    before.swap(m_visible);
    // The lines a screen can show, in one call; a line laid out before and unchanged since
    // keeps its layout.
    const QStringList texts = text.lines(first, rows + 1, MaxShownColumns + 1);
    auto layoutOf = [&](qsizetype i) {
        if (!m_layoutsStale && i < m_changedFrom && !before.empty() && i >= before.front().line &&
            i <= before.back().line)
            return before[size_t(i - before.front().line)].layout;
        return layoutText(texts[i - first], look);
    };
    const int lineHeight = look.room.height();
    int top = 0;
    for (qsizetype i = first; i < first + texts.size() && top < height; ++i) {
        auto layout = layoutOf(i);
        m_visible.push_back({i, top, layout});
        const QTextLine last = layout->lineAt(layout->lineCount() - 1);
        top += last.isValid()
                   ? qMax(lineHeight, int(std::ceil(last.y() + last.height())) + look.room.below)
                   : lineHeight;
        m_widest = qMax(m_widest, int(std::ceil(layout->maximumWidth())));
    }
    m_viewFilled = top >= height;
    m_changedFrom = std::numeric_limits<qsizetype>::max();
    m_visibleDirty = false;
    m_layoutsStale = false;
    return m_visible;
}
