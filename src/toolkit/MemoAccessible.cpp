#include "toolkit/MemoAccessible.h"

#include "toolkit/Memo.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>
#include <limits>

namespace {

// What screen readers and accessibility-based tools read of a memo: its text by offsets,
// characters, words and lines, the cursor and the selection.
class MemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
  public:
    explicit MemoAccessible(Memo *memo) : QAccessibleWidget(memo, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Value)
            return QAccessibleWidget::text(t);
        return guarded(QString(), [&] {
            return memo()->lineCount() < 100000 ? memo()->text()
                                                : memo()->line(memo()->cursorPosition().line);
        });
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index != 0 || selectionCount() == 0)
            return;
        const Memo::Position anchor = memo()->anchorPosition(), cursor = memo()->cursorPosition();
        const Memo::Position first = qMin(anchor, cursor), last = qMax(anchor, cursor);
        *start = guarded(0, [&] { return clampInt(memo()->offsetOf(first)); });
        *end = guarded(0, [&] { return clampInt(memo()->offsetOf(last)); });
    }
    int selectionCount() const override
    {
        return memo()->anchorPosition() == memo()->cursorPosition() ? 0 : 1;
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override
    {
        memo()->readGuarded(
            [&] { memo()->select(memo()->cursorPosition(), memo()->cursorPosition()); });
    }
    void setSelection(int, int start, int end) override
    {
        memo()->readGuarded(
            [&] { memo()->select(memo()->positionAt(start), memo()->positionAt(end)); });
    }
    int cursorPosition() const override
    {
        return guarded(0, [&] { return clampInt(memo()->offsetOf(memo()->cursorPosition())); });
    }
    void setCursorPosition(int position) override
    {
        memo()->readGuarded([&] {
            const Memo::Position p = memo()->positionAt(position);
            memo()->select(p, p);
        });
    }
    QString text(int startOffset, int endOffset) const override
    {
        return guarded(QString(), [&] {
            return memo()->textBetween(memo()->positionAt(startOffset),
                                       memo()->positionAt(endOffset));
        });
    }
    int characterCount() const override { return clampInt(memo()->characterCount()); }
    QRect characterRect(int offset) const override
    {
        const QRect local =
            guarded(QRect(), [&] { return memo()->characterRect(memo()->positionAt(offset)); });
        return local.isEmpty() ? QRect()
                               : QRect(memo()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return guarded(0, [&] {
            return clampInt(
                memo()->offsetOf(memo()->positionAtPoint(memo()->mapFromGlobal(point))));
        });
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        memo()->readGuarded(
            [&] { memo()->select(memo()->positionAt(startIndex), memo()->positionAt(endIndex)); });
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return QString();
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                         int *end) const override
    {
        return guarded(QString(), [&] { return piece(offset, type, 0, start, end); });
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                             int *end) const override
    {
        return guarded(QString(), [&] { return piece(offset, type, -1, start, end); });
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                            int *end) const override
    {
        return guarded(QString(), [&] { return piece(offset, type, +1, start, end); });
    }

  private:
    Memo *memo() const { return static_cast<Memo *>(widget()); }
    static int clampInt(qsizetype value) { return int(qMin<qsizetype>(value, INT_MAX)); }
    // What read gives, or fallback when the text cannot be read (its file changed, the spill
    // file failed): the memo shows the failure once, and no exception reaches the caller.
    template <typename T, typename Read> T guarded(T fallback, Read read) const
    {
        memo()->readGuarded([&] { fallback = read(); });
        return fallback;
    }

    // The character, word or line at offset, or the one before (step -1) or after (+1).
    QString piece(int offset, QAccessible::TextBoundaryType type, int step, int *start,
                  int *end) const
    {
        *start = *end = -1;
        const qsizetype count = memo()->characterCount();
        if (offset < 0 || offset > count)
            return QString();
        if (type == QAccessible::NoBoundary) {
            if (step != 0)
                return QString();
            *start = 0;
            *end = clampInt(count);
            return memo()->text();
        }
        if (type == QAccessible::CharBoundary) {
            const qsizetype at = offset + step;
            if (at < 0 || at >= count)
                return QString();
            *start = clampInt(at);
            *end = clampInt(at + 1);
            return text(*start, *end);
        }
        Memo::Position p = memo()->positionAt(offset);
        if (type == QAccessible::WordBoundary) {
            const QString line = memo()->line(p.line);
            QTextBoundaryFinder finder(QTextBoundaryFinder::Word, line);
            finder.setPosition(int(p.column));
            int from = finder.isAtBoundary() ? int(p.column) : finder.toPreviousBoundary();
            if (from < 0)
                from = 0;
            finder.setPosition(from);
            if (step < 0) {
                const int previous = finder.toPreviousBoundary();
                if (previous < 0)
                    return QString();
                finder.setPosition(previous);
                from = previous;
            } else if (step > 0) {
                const int next = finder.toNextBoundary();
                if (next < 0 || next >= line.size())
                    return QString();
                finder.setPosition(next);
                from = next;
            }
            int to = finder.toNextBoundary();
            if (to < 0)
                to = int(line.size());
            const qsizetype lineStart = memo()->offsetOf({p.line, 0});
            *start = clampInt(lineStart + from);
            *end = clampInt(lineStart + to);
            return line.mid(from, to - from);
        }
        // Lines, sentences and paragraphs: the line, with its line break.
        p.line += step;
        if (p.line < 0 || p.line >= memo()->lineCount())
            return QString();
        const bool last = p.line == memo()->lineCount() - 1;
        const qsizetype lineStart = memo()->offsetOf({p.line, 0});
        const qsizetype lineEnd = lineStart + memo()->line(p.line).size() + (last ? 0 : 2);
        *start = clampInt(lineStart);
        *end = clampInt(lineEnd);
        return memo()->line(p.line) + (last ? QString() : QStringLiteral("\r\n"));
    }
};

} // namespace

QAccessibleInterface *memoAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("Memo") && object && object->isWidgetType())
        return new MemoAccessible(static_cast<Memo *>(object));
    return nullptr;
}
