#include "toolkit/WindowLook.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace WindowLook {

// Tahoma as the system has it, else the metric-compatible Tahoma that Debian's
// fonts-wine package installs outside the font path; the layouts were measured with it.
static void loadTahoma()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        return;
    for (const char *file :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
        if (QFile::exists(QString::fromLatin1(file)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
}

// A text label's box follows its text in the font in use, as the layouts' sizes followed it
// in theirs: it grows to the right and down from where it stands, never shrinks.
static void fitLabels(const QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->text().isEmpty())
            continue;
        label->resize(label->size().expandedTo(label->sizeHint()));
    }
}

void apply(QWidget *window, bool alwaysOnTop)
{
    loadTahoma();
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
    fitLabels(window);
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
