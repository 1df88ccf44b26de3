#include "toolkit/LineBox.h"

#include "toolkit/ErrorDisplay.h"
#include "toolkit/Pump.h"
#include "toolkit/ScrollBars.h"

#include <QEvent>

LineBox::LineBox(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    ScrollBars::paintOpaque(this);
    m_batchId = Pump::registerBatch([this] { flush(); }); // called once the box is made
    m_findBar = new FindBar(this, *this);
    m_room = lineRoom(font());
}

LineBox::~LineBox()
{
    Pump::unregisterBatch(m_batchId);
}

bool LineBox::readGuarded(const std::function<void()> &read) const
{
    return ErrorDisplay::runInView(m_failureShown, read);
}

bool LineBox::event(QEvent *event)
{
    return ErrorDisplay::dispatchInView(m_failureShown,
                                        [&] { return QAbstractScrollArea::event(event); });
}

bool LineBox::viewportEvent(QEvent *event)
{
    return ErrorDisplay::dispatchInView(m_failureShown,
                                        [&] { return QAbstractScrollArea::viewportEvent(event); });
}

void LineBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_room = lineRoom(font());
        fontChanged();
    }
}
