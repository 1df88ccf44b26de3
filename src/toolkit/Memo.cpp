#include "toolkit/Memo.h"

#include "toolkit/Accessibility.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/MemoAccessible.h"
#include "toolkit/Pump.h"
#include "toolkit/ScrollBars.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <limits>
#include <mutex>

namespace {

constexpr int Margin = 3;

} // namespace

Memo::Memo(QWidget *parent) : LineBox(parent)
{
    static std::once_flag registered;
    std::call_once(registered, [] { QAccessible::installFactory(memoAccessibleFactory); });
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    updateScrollBars();
}

Memo::~Memo() = default;

void Memo::clear()
{
    forgetFailure();
    m_text.clear();
    m_cursor = m_anchor = {};
    m_layouts.resetWidest();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    contentChanged();
    textReplaced();
}

qsizetype Memo::addLine(QStringView line)
{
    return addAtEnd([&] { return m_text.addLine(line); });
}

qsizetype Memo::addLine(QStringView prefix, QStringView line, QStringView suffix)
{
    return addAtEnd([&] { return m_text.addLine(prefix, line, suffix); });
}

void Memo::setText(const QString &text)
{
    forgetFailure();
    m_text.setText(text);
    m_cursor = m_anchor = {};
    m_layouts.resetWidest();
    contentChanged();
    textReplaced();
}

void Memo::textReplaced()
{
    m_accessibleInsert.reset();
    if (!Accessibility::listening())
        return;
    QAccessibleTextUpdateEvent updated(this, 0, QString(), textFrom({}, MaxAccessibleText));
    Accessibility::send(&updated);
}

int Memo::accessibleOffset(Position position) const
{
    return int(qMin<qsizetype>(offsetOf(position), INT_MAX));
}

QString Memo::textFrom(Position from, qsizetype maxLength) const
{
    QString text;
    for (qsizetype line = from.line; line < lineCount() && text.size() < maxLength; ++line) {
        if (line > from.line)
            text += QStringLiteral("\r\n");
        const QString whole = m_text.line(line, maxLength - text.size() + from.column);
        text += line == from.line ? QStringView(whole).mid(from.column) : QStringView(whole);
    }
    text.truncate(maxLength);
    return text;
}

void Memo::caretMoved()
{
    if (!Accessibility::listening())
        return;
    QAccessibleTextCursorEvent moved(this, accessibleOffset(m_cursor));
    Accessibility::send(&moved);
    if (m_anchor != m_cursor) {
        QAccessibleTextSelectionEvent selected(this, accessibleOffset(qMin(m_anchor, m_cursor)),
                                               accessibleOffset(qMax(m_anchor, m_cursor)));
        Accessibility::send(&selected);
    }
}

void Memo::flush()
{
    if (m_accessibleInsert) {
        const Position from = clamp(*m_accessibleInsert); // the user may have edited since
        m_accessibleInsert.reset();
        if (Accessibility::listening()) {
            QAccessibleTextInsertEvent inserted(this, accessibleOffset(from),
                                                textFrom(from, MaxAccessibleText));
            Accessibility::send(&inserted);
            QAccessibleTextCursorEvent moved(this, accessibleOffset(m_cursor));
            Accessibility::send(&moved);
        }
    }
    updateScrollBars();
    if (m_followCursor) {
        m_followCursor = false;
        ensureCursorVisible();
    }
    if (m_layouts.needsRepaint()) {
        m_layouts.moved();
        viewport()->update();
    }
}

void Memo::setWordWrap(bool wrap)
{
    m_wordWrap = wrap;
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : horizontalScrollBarPolicy());
    contentChanged();
}

void Memo::loadFromFile(const QString &fileName)
{
    forgetFailure();
    m_text.loadFromFile(fileName);
    m_cursor = m_anchor = {};
    m_layouts.resetWidest();
    contentChanged();
    textReplaced();
}

int Memo::pageLines() const
{
    return qMax(1, viewport()->height() / qMax(1, lineHeight()));
}

// Sets a scroll bar's range and steps, leaving it untouched (and unpainted) when they stay.
static void setScrollBar(QScrollBar *bar, int maximum, int pageStep, int singleStep)
{
    if (bar->maximum() != maximum || bar->minimum() != 0)
        bar->setRange(0, maximum);
    if (bar->pageStep() != pageStep)
        bar->setPageStep(pageStep);
    if (bar->singleStep() != singleStep)
        bar->setSingleStep(singleStep);
}

void Memo::updateScrollBars()
{
    const qsizetype lastTop = qMax<qsizetype>(0, m_text.lineCount() - pageLines());
    setScrollBar(verticalScrollBar(), int(qMin<qsizetype>(INT_MAX, lastTop)), pageLines(), 1);
    setScrollBar(horizontalScrollBar(),
                 m_wordWrap ? 0 : qMax(0, m_layouts.widest() + 2 * Margin - viewport()->width()),
                 viewport()->width(), fontMetrics().averageCharWidth() * 4);
}

void Memo::contentChanged()
{
    m_layouts.invalidate();
    updateScrollBars();
    viewport()->update();
}

MemoLayouts::Look Memo::look() const
{
    return {font(), m_wordWrap, viewport()->width() - 2 * Margin, m_room};
}

const std::vector<Memo::VisibleLine> &Memo::visibleLines() const
{
    return m_layouts.visible(m_text, verticalScrollBar()->value(), pageLines(),
                             viewport()->height(), look());
}

void Memo::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int widestBefore = m_layouts.widest();
    const int dx = m_wordWrap ? 0 : horizontalScrollBar()->value();
    const Position from = qMin(m_cursor, m_anchor), to = qMax(m_cursor, m_anchor);
    for (const VisibleLine &shown : visibleLines()) {
        QList<QTextLayout::FormatRange> selection;
        if (from != to && shown.line >= from.line && shown.line <= to.line) {
            QTextLayout::FormatRange range;
            range.start = int(shown.line == from.line ? from.column : 0);
            const int end =
                int(shown.line == to.line ? to.column : m_text.lineLength(shown.line) + 1);
            range.length = end - range.start;
            range.format.setBackground(palette().highlight());
            range.format.setForeground(palette().highlightedText());
            selection << range;
        }
        const QPointF origin(Margin - dx, shown.top);
        shown.layout->draw(&painter, origin, selection);
        if (m_cursorShown && shown.line == m_cursor.line)
            shown.layout->drawCursor(&painter, origin, MemoLayouts::shownColumn(m_cursor.column));
    }
    if (m_layouts.widest() != widestBefore)
        QMetaObject::invokeMethod(
            this, [this] { updateScrollBars(); }, Qt::QueuedConnection);
}

void Memo::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    contentChanged();
}

void Memo::scrollContentsBy(int, int)
{
    m_layouts.moved();
    viewport()->update();
}

Memo::Position Memo::hitTest(const QPoint &point) const
{
    const auto &shown = visibleLines();
    if (shown.empty())
        return clamp({m_text.lineCount() - 1, 0});
    const int dx = m_wordWrap ? 0 : horizontalScrollBar()->value();
    const qreal x = point.x() - Margin + dx;
    if (point.y() < 0)
        return {shown.front().line, shown.front().layout->lineAt(0).xToCursor(x)};
    for (const VisibleLine &visible : shown) {
        const QTextLayout &layout = *visible.layout;
        for (int k = 0; k < layout.lineCount(); ++k) {
            const QTextLine line = layout.lineAt(k);
            if (point.y() < visible.top + line.y() + line.height())
                return {visible.line, line.xToCursor(x)};
        }
    }
    const VisibleLine &last = shown.back();
    return {last.line, last.layout->lineAt(last.layout->lineCount() - 1).xToCursor(x)};
}

void Memo::moveCursor(Position to, bool keepAnchor)
{
    m_cursor = clamp(to);
    m_cursorShown = hasFocus(); // a moved cursor shows at once, then blinks on
    if (!keepAnchor)
        m_anchor = m_cursor;
    ensureCursorVisible();
    viewport()->update();
    caretMoved();
}

void Memo::ensureCursorVisible()
{
    QScrollBar *v = verticalScrollBar();
    if (m_cursor.line < v->value())
        v->setValue(int(m_cursor.line));
    else if (m_cursor.line >= v->value() + pageLines())
        v->setValue(int(m_cursor.line - pageLines() + 1));
    if (m_wordWrap)
        return;
    const int x = int(MemoLayouts::layoutLine(m_text, m_cursor.line, look())
                          ->lineAt(0)
                          .cursorToX(MemoLayouts::shownColumn(m_cursor.column)));
    QScrollBar *h = horizontalScrollBar();
    const int visibleWidth = viewport()->width() - 2 * Margin;
    if (x > m_layouts.widest()) {
        m_layouts.widen(x);
        updateScrollBars();
    }
    if (x < h->value())
        h->setValue(x);
    else if (x > h->value() + visibleWidth)
        h->setValue(x - visibleWidth);
}

void Memo::select(Position anchor, Position cursor)
{
    m_anchor = clamp(anchor);
    moveCursor(cursor, true);
}

Searchable::Place Memo::searchStart(bool backward) const
{
    const Position from = backward ? qMin(m_anchor, m_cursor) : qMax(m_anchor, m_cursor);
    return {from.line, from.column};
}

void Memo::showMatch(const TextSearch::Match &match)
{
    select({match.line, match.column}, {match.line, match.column + match.length});
}

void Memo::showLine(qsizetype line)
{
    select({line, 0}, {line, 0});
}

QRect Memo::characterRect(Position position) const
{
    const Position p = clamp(position);
    const int dx = m_wordWrap ? 0 : horizontalScrollBar()->value();
    for (const VisibleLine &shown : visibleLines()) {
        if (shown.line != p.line)
            continue;
        const QTextLine line =
            shown.layout->lineForTextPosition(MemoLayouts::shownColumn(p.column));
        if (!line.isValid())
            return {};
        const qreal x = line.cursorToX(MemoLayouts::shownColumn(p.column));
        const QRect inViewport(int(x) + Margin - dx, shown.top + int(line.y()),
                               qMax(1, fontMetrics().averageCharWidth()), int(line.height()));
        return inViewport.translated(viewport()->pos());
    }
    return {};
}

Memo::Position Memo::positionAtPoint(const QPoint &memoPoint) const
{
    return hitTest(memoPoint - viewport()->pos());
}

QString Memo::selectedText() const
{
    return textBetween(qMin(m_cursor, m_anchor), qMax(m_cursor, m_anchor));
}

void Memo::removeSelection()
{
    if (m_cursor == m_anchor)
        return;
    const Position from = qMin(m_cursor, m_anchor), to = qMax(m_cursor, m_anchor);
    const QString removed = Accessibility::listening() ? textBetween(from, to) : QString();
    m_text.remove(from, to);
    m_cursor = m_anchor = from;
    if (Accessibility::listening()) {
        QAccessibleTextRemoveEvent event(this, accessibleOffset(from), removed);
        Accessibility::send(&event);
    }
}

void Memo::insertText(const QString &text)
{
    removeSelection();
    const Position at = m_cursor;
    m_cursor = m_anchor = m_text.insert(m_cursor, text);
    contentChanged();
    ensureCursorVisible();
    if (Accessibility::listening()) {
        QAccessibleTextInsertEvent inserted(this, accessibleOffset(at), text);
        Accessibility::send(&inserted);
    }
    caretMoved();
}

void Memo::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const Position end = endPosition();
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::Cut) {
        cut();
        return;
    }
    if (event == QKeySequence::Paste) {
        paste();
        return;
    }
    Position p = m_cursor;
    const qsizetype length = m_text.lineLength(p.line);
    switch (event->key()) {
    case Qt::Key_Left:
        moveCursor(m_text.positionBefore(p), shift);
        return;
    case Qt::Key_Right:
        moveCursor(m_text.positionAfter(p), shift);
        return;
    case Qt::Key_Up:
        moveCursor({p.line - 1, p.column}, shift);
        return;
    case Qt::Key_Down:
        moveCursor({p.line + 1, p.column}, shift);
        return;
    case Qt::Key_PageUp:
        moveCursor({p.line - pageLines(), p.column}, shift);
        return;
    case Qt::Key_PageDown:
        moveCursor({p.line + pageLines(), p.column}, shift);
        return;
    case Qt::Key_Home:
        moveCursor(ctrl ? Position{} : Position{p.line, 0}, shift);
        return;
    case Qt::Key_End:
        moveCursor(ctrl ? end : Position{p.line, length}, shift);
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (m_cursor == m_anchor) // the character before or after the cursor
            m_anchor = event->key() == Qt::Key_Backspace ? m_text.positionBefore(p)
                                                         : m_text.positionAfter(p);
        deleteSelection();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        insertText(QStringLiteral("\n"));
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        event->ignore();
        return;
    default:
        break;
    }
    const QString typed = event->text();
    if (!typed.isEmpty() && !ctrl && typed.front().isPrint()) {
        insertText(typed);
        return;
    }
    event->ignore();
}

void Memo::copy() const
{
    if (m_cursor != m_anchor)
        QGuiApplication::clipboard()->setText(selectedText());
}

void Memo::cut()
{
    copy();
    deleteSelection();
}

void Memo::paste()
{
    insertText(QGuiApplication::clipboard()->text());
}

void Memo::selectAll()
{
    select({}, endPosition());
}

void Memo::deleteSelection()
{
    removeSelection();
    contentChanged();
    ensureCursorVisible();
}

void Memo::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // Selects the word under the mouse.
    const Position at = hitTest(event->position().toPoint());
    const QString line = m_text.line(at.line);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, line);
    finder.setPosition(int(at.column));
    const int start = finder.boundaryReasons().testFlag(QTextBoundaryFinder::StartOfItem)
                          ? int(at.column)
                          : qMax(0, finder.toPreviousBoundary());
    finder.setPosition(start);
    const int end = finder.toNextBoundary();
    select({at.line, start}, {at.line, end < 0 ? line.size() : end});
}

void Memo::contextMenuEvent(QContextMenuEvent *event)
{
    const bool selected = m_cursor != m_anchor;
    QMenu menu(this);
    menu.addAction(tr("Cu&t"), this, &Memo::cut)->setEnabled(selected);
    menu.addAction(tr("&Copy"), this, &Memo::copy)->setEnabled(selected);
    menu.addAction(tr("&Paste"), this, &Memo::paste)
        ->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    menu.addAction(tr("&Delete"), this, &Memo::deleteSelection)->setEnabled(selected);
    menu.addSeparator();
    menu.addAction(tr("Select &All"), this, &Memo::selectAll);
    menu.exec(event->globalPos());
}

void Memo::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_blink.timerId())
        return QAbstractScrollArea::timerEvent(event);
    m_cursorShown = !m_cursorShown;
    viewport()->update();
}

void Memo::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    moveCursor(hitTest(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void Memo::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        moveCursor(hitTest(event->position().toPoint()), true);
}

void Memo::focusInEvent(QFocusEvent *event)
{
    m_cursorShown = true;
    if (const int flash = QApplication::cursorFlashTime(); flash > 0)
        m_blink.start(flash / 2, this);
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void Memo::focusOutEvent(QFocusEvent *event)
{
    m_cursorShown = false;
    m_blink.stop();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}
