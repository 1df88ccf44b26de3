#pragma once

#include "toolkit/FindBar.h"
#include "toolkit/LineRoom.h"

#include <QAbstractScrollArea>
#include <functional>

// The frame of the boxes whose lines live in a LineStore (Memo, ListBox): a scroll area with
// an opaque viewport, the find bar under it, the message pump's batch that brings the view up
// to date with the lines added since (flush), the room the font's lines take, and a guard
// round every event of the box and of its viewport: a failure to read its lines ends the
// event and is shown once through the error display, never ends the program.
class LineBox : public QAbstractScrollArea, public Searchable
{
    Q_OBJECT
  public:
    ~LineBox() override;

    // Brings the scroll bars and the view up to date with the lines added since.
    virtual void flush() = 0;
    // Runs read for a caller that must not see it fail (accessibility tools): false when it
    // failed, the failure shown once, as for the box's events.
    bool readGuarded(const std::function<void()> &read) const;

    FindBar *findBar() const { return m_findBar; }
    void setBottomMargin(int height) override { setViewportMargins(0, 0, 0, height); }

  protected:
    explicit LineBox(QWidget *parent);
    // A new text: a failure met before is shown again when met again.
    void forgetFailure() { m_failureShown.clear(); }
    // After a change of font, once the room of its lines is measured again.
    virtual void fontChanged() = 0;

    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

    LineRoom m_room; // of the font in use

  private:
    int m_batchId;
    mutable QString m_failureShown; // the failure last shown for an event or read of the box
    FindBar *m_findBar;
};
