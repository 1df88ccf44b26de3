#pragma once

#include "model/LineStore.h"
#include "toolkit/LineBox.h"

#include <QStringList>

// A list box of text items with one selection. The items live in a compact store and only
// the rows on screen are drawn, so a list of millions of items stays small and quick.
class ListBox : public LineBox
{
    Q_OBJECT
  public:
    explicit ListBox(QWidget *parent = nullptr);
    ~ListBox() override;

    void add(QStringView item); // throws "Impossible d'insérer une ligne" when full
    // The same for an item that itemsOf finds in the line reader has just read whole from
    // file: the items of a file's lines added in order refer to its bytes (LineStore).
    void addSourceItem(QStringView item, const std::shared_ptr<const SourceFile> &file,
                       const SourcePosition &reader, LineStore::ItemsOfLine itemsOf);
    int count() const { return int(m_items.count()); }
    QString item(int index) const { return m_items.line(index); }
    // The item for a caller that must not see a read fail (accessibility tools): empty when
    // it cannot be read, the failure shown once, as for the box's events.
    QString itemGuarded(int index) const;
    QStringList items() const;
    void clear();
    int currentIndex() const { return m_current; }
    void setCurrentIndex(int index);
    // Puts the selected item on the clipboard (Ctrl+C and the context menu).
    void copy() const;
    void flush() override;
    // Hands every item to take, in order.
    void forEachItem(const std::function<void(QStringView)> &take) const
    {
        m_items.forEachLine(take);
    }
    // Whole-file text save: every item followed by CR LF, in the system code page.
    void saveToFile(const QString &fileName) const;
    void letGoOf(const QString &fileName) const { m_items.letGoOf(fileName); } // LineStore

    static constexpr int ItemHeight = 13; // at least: more where the font's glyphs need it
    int itemHeight() const { return qMax(ItemHeight, m_room.height()); }

    const LineStore &searchedLines() const override { return m_items; }
    Place searchStart(bool backward) const override;
    void showMatch(const TextSearch::Match &match) override { setCurrentIndex(int(match.line)); }
    void showLine(qsizetype line) override { setCurrentIndex(int(line)); }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

  private:
    void makeRoomForOne(); // throws when the box is full
    void updateScrollBars();
    int pageRows() const;
    void fontChanged() override;

    LineStore m_items;
    int m_current = -1;
    bool m_viewFilled = false; // the last paint filled the view: items added below leave it
    qsizetype m_accessibleFirstAdded = -1; // the first item added since the last flush
};
