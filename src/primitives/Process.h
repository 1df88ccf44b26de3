#pragma once

// What both programs set up about their process, and what they ask of its standard streams
// (the platform layer).
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>

// Makes descriptors 0, 1 and 2 (or the standard handles) valid before anything else is
// opened, so that no file the program opens takes the place of a closed standard stream: a
// closed one is opened on the null device, in the direction that makes its use fail (reading
// a closed output, writing a closed input).
void MakeStandardStreamsValid();

// A program with no console of its own (Windows' GUI subsystem): its standard output and
// error are tied to the pipe or file they were sent to, else to the console of the program
// that started it, so that what it prints reaches whoever asked. Nothing elsewhere.
void AttachStandardStreams();
// Bytes written to standard output go out as they are (Windows' runtime would put a CR
// before each LF).
void MakeStandardOutputBinary();
// True when standard error is a terminal (a console).
bool StandardErrorIsTerminal();
// The program's arguments as the system gives them: on Linux names are bytes, kept whole;
// on Windows the UTF-16 command line. Once the application object exists.
QStringList ProgramArguments(int argc, char **argv);

// Makes a write to a pipe without a reader the write error instead of the end of the
// process (for the window program; the command line ends as other filters do).
void IgnoreBrokenPipeSignal();

// True when standard output is a file on disk and that file is the one named, whatever the
// spelling of its name.
bool StandardOutputIs(const QString &fileName);
// True when standard input and standard output are the same file on disk.
bool StandardOutputIsStandardInput();

// Text written to standard error when SIGINT, SIGTERM or SIGHUP (on Windows a console's
// control event) ends the program, after its temporaries are removed: each call adds to it.
void AddToInterruptNote(QByteArrayView text);

// Runs work with the interrupts of the note above held back, so that it ends whole before
// the program ends: a file put in place and the note that names it are never apart.
void RunWithInterruptsHeld(const std::function<void()> &work);
