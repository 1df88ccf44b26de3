#include "toolkit/ScrollBars.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

namespace ScrollBars {

void paintOpaque(QAbstractScrollArea *area)
{
    for (QScrollBar *bar : {area->verticalScrollBar(), area->horizontalScrollBar()}) {
        bar->setAttribute(Qt::WA_OpaquePaintEvent);
        bar->setAutoFillBackground(true);
        if (QWidget *container = bar->parentWidget(); container && container != area) {
            container->setAttribute(Qt::WA_OpaquePaintEvent);
            container->setAutoFillBackground(true);
        }
    }
}

} // namespace ScrollBars
