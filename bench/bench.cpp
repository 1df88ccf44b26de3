// Benchmarks of the program's operations on large generated files, each beside a
// command-line tool doing comparable work on the same file in the same run. Every
// measured operation runs in a child process, so that its peak memory is its own.
#include "FExtraction_Unit.h"
#include "Fcoupure_Unit.h"
#include "Fedittext_Unit.h"
#include "Fiche_principale_Unit.h"
#include "Fjointure_Unit.h"
#include "primitives/FileStream.h"
#include "primitives/LineReader.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDialog.h"
#include "toolkit/Memo.h"
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fiche_principale.h"
#include "ui_Fjointure.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString benchDir()
{
    const QString dir = qEnvironmentVariable("QUORVANE_BENCH_DIR", "/tmp/quorvane-bench");
    QDir().mkpath(dir);
    return dir;
}

// Deterministic lines: address-list rows (an address, a name, a town) or dictionary words.
// Writes a generated file of lines once (kept for later runs): line(i, out) appends line i,
// from 1, with its break.
QString generateLines(const QString &name, qint64 lines,
                      const std::function<void(qint64, QByteArray &)> &line)
{
    const QString path = benchDir() + '/' + name;
    if (QFile::exists(path))
        return path;
    QFile file(path + ".part");
    file.open(QIODevice::WriteOnly);
    QByteArray chunk;
    for (qint64 i = 1; i <= lines; ++i) {
        line(i, chunk);
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    file.close();
    QFile::rename(path + ".part", path);
    return path;
}

QString generate(const QString &name, qint64 lines, bool addresses)
{
    static const char *const syllables[] = {"ka",  "lo",  "mi", "ra",  "ten", "vo", "zu", "pe",
                                            "sar", "dil", "on", "bri", "qu",  "an", "el", "tor"};
    static const char *const domains[] = {"example.com", "mail.example.org", "post.example.net",
                                          "box.example.fr"};
    quint64 state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return unsigned(state >> 33);
    };
    auto word = [&](QByteArray &out, int parts) {
        for (int i = 0; i < parts; ++i)
            out += syllables[next() % 16];
    };
    return generateLines(name, lines, [&](qint64, QByteArray &chunk) {
        if (addresses) {
            word(chunk, 2 + int(next() % 2));
            chunk += '.';
            word(chunk, 2);
            chunk += QByteArray::number(next() % 1000);
            chunk += '@';
            chunk += domains[next() % 4];
            chunk += ";";
            word(chunk, 2);
            chunk += ' ';
            word(chunk, 3);
            chunk += ";";
            word(chunk, 2);
            chunk += "\r\n";
        } else {
            word(chunk, 2 + int(next() % 3));
            if (next() % 4 == 0)
                chunk += QByteArray::number(next() % 100);
            chunk += '\n';
        }
    });
}

QString generateBytes(const QString &name, qint64 size)
{
    const QString path = benchDir() + '/' + name;
    if (QFile::exists(path) && QFileInfo(path).size() == size)
        return path;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    quint64 state = size;
    for (qint64 done = 0; done < size; done += chunk.size()) {
        for (qsizetype i = 0; i < chunk.size(); i += 8) {
            state = state * 6364136223846793005ull + 1;
            std::memcpy(chunk.data() + i, &state, 8);
        }
        file.write(chunk.constData(), qMin<qint64>(chunk.size(), size - done));
    }
    return path;
}

// One line of size bytes (with its line break) of words, with five addresses spread
// over it.
QString generateLongLine(const QString &name, qint64 size)
{
    const QString path = benchDir() + '/' + name;
    if (QFile::exists(path) && QFileInfo(path).size() == size)
        return path;
    QFile file(path + ".part");
    file.open(QIODevice::WriteOnly);
    QByteArray chunk;
    int addresses = 0;
    for (qint64 written = 0; written < size;) {
        if (addresses < 5 && written + chunk.size() >= (addresses + 1) * size / 6)
            chunk += "someone" + QByteArray::number(addresses++) + "@example.com ";
        else
            chunk += "lorem ipsum ";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            written += chunk.size();
            chunk.clear();
        }
    }
    file.resize(size - 1);
    file.seek(size - 1);
    file.write("\n");
    file.close();
    QFile::rename(path + ".part", path);
    return path;
}

struct Result
{
    double seconds = 0;
    long peakMiB = 0;
};

// What the user waits for inside a measured child (a window's rows: from the click to the
// last line shown, without creating and tearing down the application), handed to the parent
// through a page both share; negative when the child times nothing of its own.
double *waitedSlot()
{
    static double *slot = static_cast<double *>(
        mmap(nullptr, sizeof(double), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    return slot;
}
void reportWaited(double seconds)
{
    *waitedSlot() = seconds;
}

// Runs work in a child process; its wall time (or what it reported as waited for) and peak
// resident memory.
Result measure(const std::function<void()> &work)
{
    std::fflush(stdout);
    *waitedSlot() = -1;
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        work();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    const double whole = timer.nsecsElapsed() / 1e9;
    if (*waitedSlot() >= 0) {
        std::printf("  the whole process %.2f s, of which the user waits %.2f s\n", whole,
                    *waitedSlot());
        return {*waitedSlot(), usage.ru_maxrss / 1024};
    }
    return {whole, usage.ru_maxrss / 1024};
}

// A peer command, run by the shell in the C locale.
Result measureCommand(const QString &command)
{
    const QByteArray line = "LC_ALL=C; export LC_ALL; " + command.toLocal8Bit();
    return measure([&] { execl("/bin/sh", "sh", "-c", line.constData(), nullptr); });
}

// Runs ours and the peer in turn, runs times each, after writing back what earlier runs
// left in the page cache; the medians.
std::pair<Result, Result> paired(const std::function<Result()> &ours,
                                 const std::function<Result()> &peer, int runs)
{
    std::vector<Result> a, b;
    for (int i = 0; i < runs; ++i) {
        sync();
        a.push_back(ours());
        sync();
        b.push_back(peer());
    }
    auto median = [](std::vector<Result> v) {
        std::sort(v.begin(), v.end(),
                  [](const Result &x, const Result &y) { return x.seconds < y.seconds; });
        return v[v.size() / 2];
    };
    return {median(a), median(b)};
}

QString quoted(const QString &path)
{
    return '\'' + path + '\'';
}

void warm(const QString &path)
{
    measureCommand("cat " + quoted(path) + " > /dev/null");
}

bool haveRipgrep()
{
    return std::system("command -v rg > /dev/null 2>&1") == 0;
}

double fileMiB(const QString &path)
{
    return QFileInfo(path).size() / 1048576.0;
}

// One row of the closing table.
struct Row
{
    QString operation;
    Result ours;
    double inputMiB = 0; // the size the peak is compared with
    QString peer;
    Result peerResult;
};

std::vector<Row> &table()
{
    static std::vector<Row> rows;
    return rows;
}

void addRow(const QString &operation, const Result &ours, double inputMiB, const QString &peer,
            const Result &peerResult)
{
    table().push_back({operation, ours, inputMiB, peer, peerResult});
    std::printf("  %-40s %7.2f s %6ld MiB | %-24s %7.2f s %6ld MiB | %5.2f x\n",
                qPrintable(operation), ours.seconds, ours.peakMiB, qPrintable(peer),
                peerResult.seconds, peerResult.peakMiB, ours.seconds / peerResult.seconds);
}

void printTable()
{
    std::printf("\n%-40s %8s %9s %7s  %-44s %8s %7s\n", "operation", "seconds", "peak MiB",
                "peak/sz", "peer", "seconds", "ratio");
    for (const Row &r : table())
        std::printf("%-40s %8.2f %9ld %7.2f  %-44s %8.2f %7.2f\n", qPrintable(r.operation),
                    r.ours.seconds, r.ours.peakMiB, r.ours.peakMiB / r.inputMiB, qPrintable(r.peer),
                    r.peerResult.seconds, r.ours.seconds / r.peerResult.seconds);
}

// Runs the work with the five windows created, offscreen, dialogs scripted.
void withWindows(int argc, char **argv, const std::function<void()> &work)
{
    // Offscreen unless a platform is named (xcb under Xvfb paints through a real server).
    qputenv("QT_QPA_PLATFORM", qgetenv("QUORVANE_BENCH_PLATFORM").isEmpty()
                                   ? QByteArray("offscreen")
                                   : qgetenv("QUORVANE_BENCH_PLATFORM"));
    QElapsedTimer step;
    step.start();
    QApplication app(argc, argv);
    CreateApplicationWindows();
    ErrorDisplay::setSink([](const QString &m) { std::printf("  error: %s\n", qPrintable(m)); });
    const double creation = step.restart() / 1e3;
    work();
    step.restart();
    DestroyApplicationWindows();
    std::printf("  creation %.2f s, teardown %.2f s\n", creation, step.elapsed() / 1e3);
}

QString addressList(qint64 lines)
{
    return generate(QString("addresses-%1M.txt").arg(lines / 1000000), lines, true);
}

void benchLineReader()
{
    const QString file = addressList(5000000);
    std::printf("LineReader, %s (%.0f MiB)\n", qPrintable(file), fileMiB(file));
    warm(file);
    const auto [ours, grep] = paired(
        [&] {
            return measure([&] {
                LineReader reader(file);
                qint64 lines = 0, chars = 0;
                while (!reader.EndOfStream()) {
                    chars += reader.ReadLineView().size();
                    ++lines;
                }
                std::printf("  %lld lines, %lld characters\n", (long long)lines, (long long)chars);
            });
        },
        [&] {
            return measureCommand("grep -c '' " + quoted(file) + " > " +
                                  quoted(benchDir() + "/peer.out"));
        },
        5);
    addRow("LineReader, 5 M lines (median of 5)", ours, fileMiB(file), "grep -c ''", grep);
}

// The peer of the address scan, into a file (grep stops at the first match when it writes
// to /dev/null); out is quoted already.
Result grepAddresses(const QString &file, const QString &out)
{
    return measureCommand("grep -aoE '[^[:space:]]*@[^[:space:]]*' " + quoted(file) + " > " + out);
}

// Extract Emails Open in the shown window, beside grep -o (and rg -o) writing to a file.
// Bytes this process has written so far (Linux: /proc/self/io), or -1.
double bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toDouble();
    return -1;
}

void extraction(int argc, char **argv, const QString &label, const QString &file)
{
    std::printf("Extract Emails Open, %s (%.0f MiB)\n", qPrintable(file), fileMiB(file));
    warm(file);
    const Result ours = measure([&] {
        withWindows(argc, argv, [&] {
            Fiche_principale->ui->SpeedButton1->click(); // the window is on screen
            FileDialog::scriptAnswer(file);
            QElapsedTimer click;
            click.start();
            FExtraction->ui->Button4->click(); // returns once the summary line is shown
            reportWaited(click.nsecsElapsed() / 1e9);
            std::printf("  %d addresses listed; %s\n", FExtraction->ui->ListBox1->count(),
                        qPrintable(FExtraction->ui->Memo2->text().trimmed().split("\r\n").last()));
            // Nothing is saved here: what the process wrote went to its spill file.
            if (const double written = bytesWritten(); written >= 0)
                std::printf("  spill writes %.0f MiB, %.2f x the input\n", written / 1048576,
                            written / 1048576 / fileMiB(file));
        });
    });
    const QString out = quoted(benchDir() + "/peer.out");
    const Result grep = grepAddresses(file, out);
    addRow(label, ours, fileMiB(file), "grep -aoE '[^[:space:]]*@[^[:space:]]*'", grep);
    if (haveRipgrep()) {
        const Result rg = measureCommand("rg -ao '[^\\s]*@[^\\s]*' " + quoted(file) + " > " + out);
        addRow(label, ours, fileMiB(file), "rg -ao '[^\\s]*@[^\\s]*'", rg);
    }
    QFile::remove(benchDir() + "/peer.out");
}

void benchExtraction(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QUORVANE_BENCH_BIG_ONLY"))
        extraction(argc, argv, "Extract Emails Open, 5 M lines", addressList(5000000));
    extraction(argc, argv, "Extract Emails Open, 20 M lines", addressList(20000000));
}

void benchLongLine(int argc, char **argv)
{
    extraction(argc, argv, "Extract Emails, one 100 MB line",
               generateLongLine("long-line-100MB.txt", 100000000));
}

// The peer of Edit Text: the file, then every line with x before it and y after it.
Result catAndSed(const QString &file, const QString &out)
{
    return measureCommand("{ cat " + quoted(file) + "; sed 's/^/x/;s/$/y/' " + quoted(file) +
                          "; } > " + quoted(out));
}

// Edit Text Open + Start + Save of a dictionary, beside cat and sed doing the same.
void editText(int argc, char **argv, const QString &label, const QString &file)
{
    const QString out = benchDir() + "/dictionary.decorated";
    std::printf("Edit Text Open, Start, Save, %s (%.0f MiB)\n", qPrintable(file), fileMiB(file));
    warm(file);
    const Result ours = measure([&] {
        withWindows(argc, argv, [&] {
            QElapsedTimer step;
            step.start();
            Fiche_principale->ui->SpeedButton4->click();
            FileDialog::scriptAnswer(file);
            Fedittext->ui->Button4->click();
            const double open = step.restart() / 1e3;
            Fedittext->ui->Edit1->setText("x");
            Fedittext->ui->Edit2->setText("y");
            Fedittext->ui->Button1->click();
            const double start = step.restart() / 1e3;
            FileDialog::scriptAnswer(out);
            Fedittext->ui->Button6->click();
            const double save = step.elapsed() / 1e3;
            reportWaited(open + start + save);
            std::printf("  Open %.2f s, Start %.2f s, Save %.2f s, %lld lines in the memo\n", open,
                        start, save, (long long)Fedittext->ui->Memo1->lineCount());
            // What the process wrote besides the saved file went to its spill file.
            if (const double written = bytesWritten(); written >= 0)
                std::printf("  spill writes %.0f MiB, %.2f x the input\n",
                            (written - QFileInfo(out).size()) / 1048576,
                            (written - QFileInfo(out).size()) / 1048576 / fileMiB(file));
        });
    });
    std::printf("  saved %.0f MiB\n", fileMiB(out));
    QFile::remove(out);
    addRow(label, ours, fileMiB(file), "{ cat; sed }", catAndSed(file, out + ".sed"));
    QFile::remove(out + ".sed");
}

void benchEditText(int argc, char **argv)
{
    editText(argc, argv, "Edit Text Open + Start + Save, 20 M",
             generate("dictionary-20M.txt", 20000000, false));
}

// Paint times of a memo of 80 M lines, shown offscreen: the first screen, a jump to the
// end, a page down there; each from cold (its chunk in the spill file) and cached.
void benchMemoPaint(int argc, char **argv)
{
    std::printf("Memo of 80,000,000 lines: paint times\n");
    const Result ours = measure([&] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        Memo memo;
        memo.resize(400, 330);
        memo.show();
        QElapsedTimer timer;
        timer.start();
        QString line;
        for (qint64 i = 0; i < 80000000; ++i) {
            line = QStringLiteral("line %1 of the memo, some words").arg(i);
            memo.addLine(line);
        }
        memo.flush();
        std::printf("  filled in %.1f s\n", timer.elapsed() / 1e3);
        auto paint = [&](const char *what) {
            for (const char *when : {"cold", "cached"}) {
                QElapsedTimer t;
                t.start();
                memo.viewport()->grab(); // paints the lines on screen
                std::printf("  %-22s %-7s %6.2f ms\n", what, when, t.nsecsElapsed() / 1e6);
            }
        };
        memo.verticalScrollBar()->setValue(0);
        paint("first screen");
        memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum() / 2);
        paint("jump to the middle");
        memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum());
        paint("jump to the end");
        QTest::keyClick(&memo, Qt::Key_PageUp);
        paint("page up at the end");
        QTest::keyClick(&memo, Qt::Key_PageDown);
        paint("page down to the end");
    });
    std::printf("  peak %ld MiB\n", ours.peakMiB);
}

// The large cases: a 4 GB address list, a 1 GB one, a 3 GB dictionary and the memo of
// 80 M lines. They need about 25 GB of free disk beside the bench folder (the files, the
// peers' output and the spill files) and are removed after.
void benchHugeExtraction(int argc, char **argv)
{
    const QString big = addressList(80000000);
    extraction(argc, argv, "Extract Emails Open, 80 M lines", big);
    QFile::remove(big);
}

void benchHuge(int argc, char **argv)
{
    benchHugeExtraction(argc, argv);
    const QString dictionary = generate("dictionary-300M.txt", 300000000, false);
    editText(argc, argv, "Edit Text Open + Start + Save, 300 M", dictionary);
    QFile::remove(dictionary);
    benchMemoPaint(argc, argv);
}

// The three 300 MB parts to join.
QStringList joinParts()
{
    QStringList parts;
    for (int i = 1; i <= 3; ++i)
        parts << generateBytes(QString("join-part%1.bin").arg(i), 300000000);
    return parts;
}

// Names quoted for the shell, separated by blanks.
QString quotedList(const QStringList &names)
{
    QStringList all;
    for (const QString &name : names)
        all << quoted(name);
    return all.join(' ');
}

// A join into out (run by ours) against cat doing the same, in turn, 5 times each.
// With verify, beside a checksum file that lists the parts and their join, against cat and
// sha256sum of the parts and the joined file after it (the digests the join checks).
void joinAgainstCat(const QString &label, const std::function<Result(const QString &out)> &ours,
                    bool verify = false)
{
    const QString parts = quotedList(joinParts());
    const QString out = benchDir() + "/joined.bin";
    const QString listing = benchDir() + "/join-parts.sha256";
    QFile::remove(listing);
    if (verify) {
        // The parts' lines, then the join's under the listing's own name.
        measureCommand("cd " + quoted(benchDir()) + " && sha256sum join-part1.bin join-part2.bin " +
                       "join-part3.bin > " + quoted(listing) + " && cat " + parts +
                       " | sha256sum | sed 's/-$/join-parts/' >> " + quoted(listing));
    }
    measureCommand("cat " + parts + " > /dev/null");
    const auto [result, cat] = paired(
        [&] {
            QFile::remove(out);
            return ours(out);
        },
        [&] {
            QFile::remove(out + ".cat");
            return measureCommand(
                "cat " + parts + " > " + quoted(out + ".cat") +
                (verify ? " && sha256sum " + parts + " " + quoted(out + ".cat") + " > /dev/null"
                        : QString()));
        },
        5);
    addRow(label, result, 3 * 300000000 / 1048576.0, verify ? "cat; sha256sum" : "cat", cat);
    QFile::remove(out);
    QFile::remove(out + ".cat");
    QFile::remove(listing);
}

// A cut of the 1 GB source into 3 in an empty folder (run by ours) against split -n 3
// doing the same, in turn, 5 times each.
// Against split -n 3, or split -n l/3 for a cut at line ends (the source's bytes hold a LF or
// a CR every 128 bytes or so); with checksums, sha256sum of the pieces and the source after
// split (the digests the cut writes).
void cutAgainstSplit(
    const QString &label,
    const std::function<Result(const QString &source, const QString &pieces)> &ours,
    bool atLineEnds = false, bool checksums = false)
{
    const QString source = generateBytes("cut-source-1GB.bin", 1000000000);
    const QString pieces = benchDir() + "/pieces";
    auto emptyFolder = [&] {
        QDir(pieces).removeRecursively();
        QDir().mkpath(pieces);
    };
    warm(source);
    const QString splitCount = atLineEnds ? "l/3" : "3";
    const auto [result, split] = paired(
        [&] {
            emptyFolder();
            return ours(source, pieces);
        },
        [&] {
            emptyFolder();
            return measureCommand(
                "cd " + quoted(pieces) + " && split -n " + splitCount + " " + quoted(source) +
                " piece-" +
                (checksums ? " && sha256sum piece-* " + quoted(source) + " > sums.sha256"
                           : QString()));
        },
        5);
    addRow(label, result, 1000000000 / 1048576.0,
           "split -n " + splitCount + (checksums ? "; sha256sum" : ""), split);
    QDir(pieces).removeRecursively();
}

// The longest time without handling events while it lives: a timer of no interval runs
// whenever events are handled (at every pump of a long loop).
struct EventGaps
{
    qint64 longest = 0;
    QElapsedTimer since;
    QTimer tick;
    EventGaps()
    {
        QObject::connect(&tick, &QTimer::timeout, [this] {
            if (since.isValid())
                longest = qMax(longest, since.restart());
            else
                since.start();
        });
        tick.start(0);
    }
};

void benchJoin(int argc, char **argv)
{
    std::printf("Join Files, three files of 300 MB\n");
    const QStringList parts = joinParts();
    joinAgainstCat("Join, 3 x 300 MB (median of 5)", [&](const QString &out) {
        return measure([&] {
            withWindows(argc, argv, [&] {
                for (const QString &p : parts) {
                    FileDialog::scriptAnswer(p);
                    Fjointure->ui->Button1->click();
                }
                Fjointure->ui->Edit1->setText(out);
                EventGaps gaps;
                Fjointure->ui->Button2->click();
                std::printf("  longest time between two pumps during the join: %lld ms\n",
                            gaps.longest);
            });
        });
    });
}

void benchCut(int argc, char **argv)
{
    std::printf("Cut Files, 1 GB into 3 pieces\n");
    for (const bool atLineEnds : {false, true})
        cutAgainstSplit(
            atLineEnds ? "Cut, 1 GB into 3 at line ends (median of 5)"
                       : "Cut, 1 GB into 3 (median of 5)",
            [&](const QString &source, const QString &pieces) {
                return measure([&] {
                    withWindows(argc, argv, [&] {
                        FileDialog::scriptAnswer(source);
                        Fcoupure->ui->Button4->click();
                        QDir::setCurrent(pieces);
                        Fcoupure->ui->Edit2->setText("3");
                        Fcoupure->UpDown1Click();
                        Fcoupure->ui->Button1->click();
                        Fcoupure->ui->KeepLinesWhole->setChecked(atLineEnds);
                        Fcoupure->ui->Button2->click();
                    });
                });
            },
            atLineEnds);
}

// The command-line companion on the same files, beside the same peers.
void benchCli()
{
    const QString cli = QStringLiteral(QUORVANE_CLI_PATH);
    const QString out = benchDir() + "/cli.out";
    for (const qint64 lines : {qint64(5000000), qint64(20000000)}) {
        const QString file = addressList(lines);
        std::printf("quorvane-cli extract, %s (%.0f MiB)\n", qPrintable(file), fileMiB(file));
        warm(file);
        const Result ours =
            measureCommand(quoted(cli) + " extract -q " + quoted(file) + " -o " + quoted(out));
        const Result grep = grepAddresses(file, quoted(out + ".grep"));
        addRow(QString("cli extract, %1 M lines").arg(lines / 1000000), ours, fileMiB(file),
               "grep -aoE '[^[:space:]]*@[^[:space:]]*'", grep);
        const Result floor = measureCommand(quoted(QStringLiteral(QUORVANE_FLOOR_PATH)) + " " +
                                            quoted(file) + " > " + quoted(out + ".grep"));
        addRow(QString("cli extract, %1 M lines").arg(lines / 1000000), ours, fileMiB(file),
               "the floor (bench/floor.cpp)", floor);
    }
    const QString dictionary = generate("dictionary-20M.txt", 20000000, false);
    warm(dictionary);
    const Result edit = measureCommand(quoted(cli) + " edit -q --prefix x --suffix y " +
                                       quoted(dictionary) + " -o " + quoted(out));
    addRow("cli edit, 20 M lines", edit, fileMiB(dictionary), "{ cat; sed }",
           catAndSed(dictionary, out + ".sed"));
    const QString longLine = generateLongLine("long-line-500MB.txt", 500000000);
    warm(longLine);
    const Result editLong = measureCommand(quoted(cli) + " edit -q --prefix x --suffix y " +
                                           quoted(longLine) + " -o " + quoted(out));
    addRow("cli edit, one 500 MB line", editLong, fileMiB(longLine), "{ cat; sed }",
           catAndSed(longLine, out + ".sed"));
    const Result extractLong =
        measureCommand(quoted(cli) + " extract -q " + quoted(longLine) + " -o " + quoted(out));
    addRow("cli extract, one 500 MB line", extractLong, fileMiB(longLine),
           "grep -aoE '[^[:space:]]*@[^[:space:]]*'",
           grepAddresses(longLine, quoted(out + ".grep")));
    QFile::remove(longLine);
    joinAgainstCat("cli join, 3 x 300 MB (median of 5)", [&](const QString &joined) {
        return measureCommand(quoted(cli) + " join -o " + quoted(joined) + " " +
                              quotedList(joinParts()));
    });
    for (const bool atLineEnds : {false, true})
        cutAgainstSplit(
            atLineEnds ? "cli cut --lines, 1 GB into 3 (median of 5)"
                       : "cli cut, 1 GB into 3 (median of 5)",
            [&](const QString &source, const QString &pieces) {
                return measureCommand("cd " + quoted(pieces) + " && " + quoted(cli) + " cut -n 3 " +
                                      (atLineEnds ? "--lines " : "") + quoted(source) +
                                      " > /dev/null");
            },
            atLineEnds);
    for (const char *suffix : {"", ".grep", ".sed"})
        QFile::remove(out + suffix);
}

// The cut and the join with their checksums, on the command line.
void benchChecksums()
{
    const QString cli = QStringLiteral(QUORVANE_CLI_PATH);
    cutAgainstSplit(
        "cli cut --checksums, 1 GB into 3 (median of 5)",
        [&](const QString &source, const QString &pieces) {
            return measureCommand("cd " + quoted(pieces) + " && " + quoted(cli) +
                                  " cut -n 3 --checksums " + quoted(source) + " > /dev/null");
        },
        false, true);
    joinAgainstCat(
        "cli join --verify, 3 x 300 MB (median of 5)",
        [&](const QString &joined) {
            return measureCommand(quoted(cli) + " join --verify -o " + quoted(joined) + " " +
                                  quotedList(joinParts()) + " 2> /dev/null");
        },
        true);
}

// An address list of count pieces, one a line, of which three in ten repeat an earlier one.
QString generatePieces(const QString &name, qint64 count)
{
    quint64 state = 0x2545F4914F6CDD1Dull;
    const quint64 distinct = quint64(count) * 7 / 10;
    return generateLines(name, count, [&](qint64, QByteArray &chunk) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const quint64 n = (state >> 20) % distinct;
        chunk += "user" + QByteArray::number(n) + '.' + QByteArray::number(n * 7 % 1000) + '@' +
                 "host" + QByteArray::number(n % 997) + ".example.com\n";
    });
}

// extract --unique --sort on a list of 20 M pieces against sort -u on the same list.
void benchSort()
{
    const QString cli = QStringLiteral(QUORVANE_CLI_PATH);
    const QString list = generatePieces("pieces-20M.txt", 20000000);
    const QString out = benchDir() + "/sorted.out";
    std::printf("extract --unique --sort, %s (%.0f MiB)\n", qPrintable(list), fileMiB(list));
    warm(list);
    const Result ours = measureCommand(quoted(cli) + " extract -q --unique --sort " + quoted(list) +
                                       " -o " + quoted(out));
    const Result sort = measureCommand("sort -u " + quoted(list) + " -o " + quoted(out + ".sort"));
    addRow("cli extract --unique --sort, 20 M", ours, fileMiB(list), "sort -u", sort);
    // Ignoring case (the list's pieces are lower case: the folding costs, the result is the
    // same), against sort -f -u.
    const Result folded =
        measureCommand(quoted(cli) + " extract -q --unique --ignore-case --sort " + quoted(list) +
                       " -o " + quoted(out));
    const Result sortFolded =
        measureCommand("sort -f -u " + quoted(list) + " -o " + quoted(out + ".sort"));
    addRow("cli extract --unique --ignore-case --sort, 20 M", folded, fileMiB(list), "sort -f -u",
           sortFolded);
    QFile::remove(out);
    QFile::remove(out + ".sort");
}

// A list of lines like the address lists, with the word "qmarker" on every 1000th line and
// "zzlastword" on the last one only.
QString generateFindList(const QString &name, qint64 lines)
{
    return generateLines(name, lines, [&](qint64 i, QByteArray &chunk) {
        chunk += QByteArray::number(i) + " kalo.mira" + QByteArray::number(i % 1000) +
                 "@example.com;tenvo sardil;brionel";
        if (i % 1000 == 0)
            chunk += " qmarker";
        if (i == lines)
            chunk += " zzlastword";
        chunk += '\n';
    });
}

// Find in the raw-line box of Extract Emails after the scan of a 20 M-line list: the last
// line's word from the top, then find next of a word on every 1000th line, with the
// longest time the window went without handling its events.
void benchFind(int argc, char **argv)
{
    const QString file = generateFindList("find-20M.txt", 20000000);
    const QString figures = benchDir() + "/find.figures";
    std::printf("Find in the raw-line box after the scan of %s (%.0f MiB)\n", qPrintable(file),
                fileMiB(file));
    warm(file);
    const Result whole = measure([&] {
        withWindows(argc, argv, [&] {
            Fiche_principale->ui->SpeedButton1->click();
            FileDialog::scriptAnswer(file);
            FExtraction->ui->Button4->click();
            Memo *memo = FExtraction->ui->Memo1;
            FindBar *bar = memo->findBar();
            auto findFromHere = [&](const char *word) {
                bar->field()->setText(QString::fromLatin1(word));
                QElapsedTimer timer;
                timer.start();
                bar->find(false);
                while (bar->isSearching())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                return timer.nsecsElapsed() / 1e9;
            };
            bar->openFind();
            memo->select({}, {});
            std::optional<EventGaps> gaps(std::in_place);
            const double last = findFromHere("zzlastword");
            const qint64 longestGap = gaps->longest;
            gaps.reset();
            std::printf("  found on line %lld; longest time without events: %lld ms\n",
                        qlonglong(memo->cursorPosition().line + 1), longestGap);
            memo->select({}, {});
            double total = 0, slowest = 0;
            const int finds = 1000;
            for (int i = 0; i < finds; ++i) {
                const double t = findFromHere("qmarker");
                total += t;
                slowest = qMax(slowest, t);
            }
            std::printf("  find next, a match every 1000 lines: %.3f ms each, %.3f ms at most, "
                        "line %lld after %d\n",
                        total / finds * 1e3, slowest * 1e3,
                        qlonglong(memo->cursorPosition().line + 1), finds);
            QFile out(figures);
            out.open(QIODevice::WriteOnly);
            out.write(QByteArray::number(last) + ' ' + QByteArray::number(total / finds));
        });
    });
    QFile in(figures);
    in.open(QIODevice::ReadOnly);
    const QList<QByteArray> numbers = in.readAll().split(' ');
    in.close();
    QFile::remove(figures);
    if (numbers.size() < 2)
        return;
    const Result grepFirst =
        measureCommand("grep -n -m1 zzlastword " + quoted(file) + " > /dev/null");
    addRow("Find the last line's word, 20 M lines", {numbers[0].toDouble(), whole.peakMiB},
           fileMiB(file), "grep -n -m1", grepFirst);
    // Not to /dev/null: grep then stops at the first match.
    const Result grepCount = measureCommand("grep -c qmarker " + quoted(file) + " > " +
                                            quoted(benchDir() + "/peer.out"));
    addRow("Find next, every 1000 lines (one)", {numbers[1].toDouble(), whole.peakMiB},
           fileMiB(file), "grep -c (the whole file)", grepCount);
}

} // namespace

int main(int argc, char **argv)
{
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    auto wanted = [&](const char *name) { return which.isEmpty() || which == name; };
    if (wanted("linereader"))
        benchLineReader();
    if (wanted("extraction"))
        benchExtraction(argc, argv);
    if (wanted("longline"))
        benchLongLine(argc, argv);
    if (wanted("edittext"))
        benchEditText(argc, argv);
    if (which == "memopaint")
        benchMemoPaint(argc, argv);
    if (which == "huge")
        benchHuge(argc, argv);
    if (which == "huge-extraction")
        benchHugeExtraction(argc, argv);
    if (wanted("join"))
        benchJoin(argc, argv);
    if (wanted("cut"))
        benchCut(argc, argv);
    if (wanted("cli"))
        benchCli();
    if (wanted("checksums"))
        benchChecksums();
    if (wanted("sort"))
        benchSort();
    if (wanted("find"))
        benchFind(argc, argv);
    printTable();
    return 0;
}
