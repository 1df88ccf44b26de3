// The main program: application object, the five windows, the message loop.
#include "Fiche_principale_Unit.h"
#include "primitives/FileStream.h"
#include "primitives/Numbers.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/WindowLook.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    IgnoreFileSizeLimitSignal(); // a full file system is a write error, not the end
    QApplication app(argc, argv);
    ErrorDisplay::setApplicationTitle(
        ErrorDisplay::titleFromExecutable(QString::fromLocal8Bit(argv[0])));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.0"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/MAINICON.png")));
    QApplication::setQuitOnLastWindowClosed(false);
    Numbers::decimalSeparator(); // read the user's separator once, at start-up

    CreateApplicationWindows();
    WindowLook::show(Fiche_principale);
    const int result = app.exec();
    DestroyApplicationWindows();
    return result;
}
