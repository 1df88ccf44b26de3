#include "toolkit/Accessibility.h"

#include <QAccessible>

namespace Accessibility {

namespace {

// The handler installed with QAccessible::installUpdateHandler; Qt has no getter.
QAccessible::UpdateHandler installedHandler()
{
    const QAccessible::UpdateHandler handler = QAccessible::installUpdateHandler(nullptr);
    QAccessible::installUpdateHandler(handler);
    return handler;
}

} // namespace

bool listening()
{
    return QAccessible::isActive() || installedHandler();
}

void send(QAccessibleEvent *event)
{
    if (QAccessible::isActive())
        QAccessible::updateAccessibility(event);
    else if (const QAccessible::UpdateHandler handler = installedHandler())
        handler(event);
}

} // namespace Accessibility
