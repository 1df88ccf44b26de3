#pragma once

#include "model/MemoText.h"
#include "toolkit/LineBox.h"
#include "toolkit/MemoLayouts.h"

#include <QBasicTimer>
#include <optional>

// A multi-line text box whose text holds its lines separated by CR LF. The text lives in a
// model (MemoText) and the view lays out only the lines on screen, so a memo of tens of
// millions of lines stays small and quick; it stays editable with keyboard and mouse.
class Memo : public LineBox
{
    Q_OBJECT
    Q_PROPERTY(bool wordWrap READ wordWrap WRITE setWordWrap)
  public:
    explicit Memo(QWidget *parent = nullptr);
    ~Memo() override;

    void clear();
    // Adds a line at the end by the memo's rules (MemoText::addLine); the cursor moves to
    // the end of the text. Returns the index of the line that holds the piece added.
    qsizetype addLine(QStringView line);
    // The same for the line prefix + line + suffix, without joining them first.
    qsizetype addLine(QStringView prefix, QStringView line, QStringView suffix);
    // The same for a line that reader has just read whole from file
    // (MemoText::addSourceLine).
    qsizetype addSourceLine(QStringView prefix, QStringView line, QStringView suffix,
                            const std::shared_ptr<const SourceFile> &file,
                            const SourcePosition &reader)
    {
        return addAtEnd([&] { return m_text.addSourceLine(prefix, line, suffix, file, reader); });
    }
    // The whole text, lines separated by CR LF.
    QString text() const { return m_text.text(); }
    // Replaces the text; line breaks (CR LF, CR, LF) separate lines, a NUL ends it.
    void setText(const QString &text);
    qsizetype lineCount() const { return m_text.lineCount(); }
    QString line(qsizetype index) const { return m_text.line(index); }
    void flush() override;

    bool wordWrap() const { return m_wordWrap; }
    void setWordWrap(bool wrap);

    // Whole-file text load and save with the encoding recorded at the last load.
    void loadFromFile(const QString &fileName);
    void saveToFile(const QString &fileName) const { m_text.saveToFile(fileName); }
    void letGoOf(const QString &fileName) const { m_text.lines().letGoOf(fileName); }
    const MemoText &content() const { return m_text; }

    using Position = MemoText::Position;
    Position cursorPosition() const { return m_cursor; }
    Position anchorPosition() const { return m_anchor; }
    QString selectedText() const;
    // The editing commands of the keyboard and the context menu.
    void copy() const;
    void cut();
    void paste();
    void selectAll();
    void deleteSelection();
    // Selects from anchor to cursor (equal: no selection) and shows the cursor.
    void select(Position anchor, Position cursor);

    // Offsets into text(), where every line but the last is followed by CR LF.
    qsizetype offsetOf(Position position) const { return m_text.offsetOf(position); }
    Position positionAt(qsizetype offset) const { return m_text.positionAt(offset); }
    qsizetype characterCount() const { return m_text.characterCount(); }
    QString textBetween(Position from, Position to) const { return m_text.textBetween(from, to); }
    // Where a position is drawn, in the memo's coordinates; empty when it is off screen.
    QRect characterRect(Position position) const;
    Position positionAtPoint(const QPoint &memoPoint) const;

    const LineStore &searchedLines() const override { return m_text.lines(); }
    Place searchStart(bool backward) const override;
    void showMatch(const TextSearch::Match &match) override;
    void showLine(qsizetype line) override;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void fontChanged() override { contentChanged(); }

  private:
    // A line added at the end by add (which returns the line that holds it), the cursor after it.
    template <typename Add> qsizetype addAtEnd(Add add)
    {
        if (!m_accessibleInsert)
            m_accessibleInsert = m_text.endPosition(); // told to accessibility tools at a flush
        m_layouts.changedFrom(m_text.lineCount() - 1);
        const qsizetype holder = add();
        // As with the platform's memo, the cursor goes to the end and the view follows it.
        // (Both from the value: copying the one just stored to the other would read it back
        // before the store completes, once a line.)
        const Position end = m_text.endPosition();
        m_cursor = end;
        m_anchor = end;
        m_followCursor = true;
        return holder;
    }
    using VisibleLine = MemoLayouts::VisibleLine;
    MemoLayouts::Look look() const;
    const std::vector<VisibleLine> &visibleLines() const;
    Position hitTest(const QPoint &point) const;
    void moveCursor(Position to, bool keepAnchor);
    void ensureCursorVisible();
    void insertText(const QString &text);
    void removeSelection();
    void contentChanged();
    // Accessibility tools are told of a new text, of the caret and the selection.
    void textReplaced();
    void caretMoved();
    int accessibleOffset(Position position) const;
    // At most maxLength characters of the text from a position on.
    QString textFrom(Position from, qsizetype maxLength) const;
    // Text told to accessibility tools in one event, at most.
    static constexpr qsizetype MaxAccessibleText = 65536;
    void updateScrollBars();
    int lineHeight() const { return m_room.height(); }
    int pageLines() const;
    Position clamp(Position p) const { return m_text.clamp(p); }
    Position endPosition() const { return m_text.endPosition(); }

    MemoText m_text;
    bool m_wordWrap = false;
    Position m_cursor;
    Position m_anchor;
    bool m_cursorShown = false; // focused, and the blinking cursor is in its visible phase
    QBasicTimer m_blink;
    bool m_followCursor = false;   // lines were added: show the end at the next flush
    mutable MemoLayouts m_layouts; // the lines on screen, laid out at the last paint
    // Where the lines added since the last flush begin, for accessibility tools.
    std::optional<Position> m_accessibleInsert;
};
