#pragma once

class QAccessibleEvent;

// Change events for accessibility tools. Qt hands events to the platform (and to a handler
// installed with QAccessible::installUpdateHandler) only while a platform accessibility
// bridge is active; where there is none (the offscreen platform), an installed handler
// still sees them here, so a test can watch what a screen reader would be told.
namespace Accessibility {

// True when someone listens: only then are events worth building.
bool listening();
// Sends the event to whoever listens.
void send(QAccessibleEvent *event);

} // namespace Accessibility
