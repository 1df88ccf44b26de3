#pragma once

class QAbstractScrollArea;

namespace ScrollBars {

// Scroll bars paint every pixel of their area, so a change of range (at every pump of a
// long loop) need not repaint the window and its picture beneath them.
void paintOpaque(QAbstractScrollArea *area);

} // namespace ScrollBars
