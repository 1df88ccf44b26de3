#pragma once

#include "model/TextSearch.h"

#include <QTimer>
#include <QWidget>
#include <memory>

class QAbstractScrollArea;
class QCheckBox;
class QLabel;
class QLineEdit;

// A box a find bar can search: a memo or a list box.
class Searchable
{
  public:
    struct Place
    {
        qsizetype line = 0;
        qsizetype column = 0;
    };
    virtual ~Searchable() = default;
    virtual const LineStore &searchedLines() const = 0;
    // Where a search starts: forward, after the selection or current item; backward, at
    // its start.
    virtual Place searchStart(bool backward) const = 0;
    // Selects the match (a memo) or makes its line the current item (a list), in view.
    virtual void showMatch(const TextSearch::Match &match) = 0;
    // Puts the cursor at the start of the line (a memo) or makes it current (a list).
    virtual void showLine(qsizetype line) = 0;
    // Keeps room for the bar below the box's lines.
    virtual void setBottomMargin(int height) = 0;
};

// The find bar of a memo or list box, at the bottom of the box and hidden until used.
// Ctrl+F opens it to find (Enter or F3 finds the next match, Shift+Enter or Shift+F3 the
// previous, round past the end; "Match case" tells case apart); Ctrl+G opens it to go to a
// line. Escape stops a running search, else closes the bar. A search of a big box runs in
// slices between the window's events, with its progress shown, so input is never held up;
// it also works while a long loop pumps messages, on the lines there are.
class FindBar : public QWidget
{
    Q_OBJECT
  public:
    FindBar(QAbstractScrollArea *box, Searchable &searchable);
    ~FindBar() override;

    void openFind();
    void openGoToLine();
    // Looks for the field's text from the box's selection (F3, Shift+F3, Enter).
    void find(bool backward);
    void goToLine();
    void stopSearch();
    void closeBar();
    bool isSearching() const { return m_search != nullptr; }
    // What the bar says: "No match", a wrap, the progress of a search.
    QString status() const;

    QLineEdit *field() const { return m_field; }
    QCheckBox *matchCase() const { return m_matchCase; }

    // How long a slice of a search may take before the window's events are handled (tests
    // set 0: one chunk of lines a slice).
    static inline qint64 SliceMilliseconds = 15;

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void open(bool goToLine);
    void place();
    void runSlice();
    void setStatus(const QString &text);

    QAbstractScrollArea *m_box;
    QWidget *m_viewport; // the box's, where its lines are drawn
    Searchable &m_searchable;
    bool m_goToLine = false;
    QLabel *m_label;
    QLineEdit *m_field;
    QCheckBox *m_matchCase;
    QLabel *m_status;
    std::unique_ptr<TextSearch> m_search;
    bool m_backward = false;
    QTimer m_slices;
};
