// The main program: application object, the five windows, the message loop.
#include "Fiche_principale_Unit.h"
#include "primitives/FileStream.h"
#include "primitives/Numbers.h"
#include "primitives/Process.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/WindowLook.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

namespace {

// --help and --version print and end the program before any window or display is needed.
// Every other argument is left to Qt's own options (-platform, -style, ...).
void answerInformationOptions(int argc, char **argv)
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tools for very large plain-text files: Extract Emails, Join Files, Cut Files and "
        "Edit Text, each in a window of its own, reached from a launcher window."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (!parser.isSet(version) && !parser.isSet(help))
        return;
    // Printed here rather than by the parser, which shows a message box instead on Windows
    // when it finds no console, and the caller would wait on it.
    AttachStandardStreams();
    const QString text = parser.isSet(version) ? QCoreApplication::applicationName() + u' ' +
                                                     QCoreApplication::applicationVersion() + u'\n'
                                               : parser.helpText();
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    std::exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    MakeStandardStreamsValid(); // before anything is opened
    answerInformationOptions(argc, argv);
    IgnoreFileSizeLimitSignal(); // a full file system is a write error, not the end
    IgnoreBrokenPipeSignal();    // and so is a pipe whose reader has gone
    QApplication app(argc, argv);
    ErrorDisplay::setApplicationTitle(
        ErrorDisplay::titleFromExecutable(QString::fromLocal8Bit(argv[0])));
    QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/MAINICON.png")));
    QApplication::setQuitOnLastWindowClosed(false);
    Numbers::decimalSeparator(); // read the user's separator once, at start-up

    CreateApplicationWindows();
    WindowLook::show(Fiche_principale);
    const int result = app.exec();
    DestroyApplicationWindows();
    return result;
}
