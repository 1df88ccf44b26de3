#include "toolkit/WindowLook.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace WindowLook {

void apply(QWidget *window, bool alwaysOnTop)
{
    // Tool windows are owned by the launcher (no task-bar button, always in front of it).
    Qt::WindowFlags flags = (window->parentWidget() ? Qt::Dialog : Qt::Window) |
                            Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (alwaysOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    window->setWindowFlags(flags);
    QFont font;
    // Tahoma where installed, else a face of about its width.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    window->setFont(font);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->setFixedSize(window->size());
}

void show(QWidget *window)
{
    if (!window->property("quorvaneShownOnce").toBool()) {
        window->setProperty("quorvaneShownOnce", true);
        QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace WindowLook
