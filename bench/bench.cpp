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
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fiche_principale.h"
#include "ui_Fjointure.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <functional>
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
QString generate(const QString &name, qint64 lines, bool addresses)
{
    const QString path = benchDir() + '/' + name;
    if (QFile::exists(path))
        return path;
    static const char *const syllables[] = {"ka",  "lo",  "mi", "ra",  "ten", "vo", "zu", "pe",
                                            "sar", "dil", "on", "bri", "qu",  "an", "el", "tor"};
    static const char *const domains[] = {"example.com", "mail.example.org", "post.example.net",
                                          "box.example.fr"};
    QFile file(path + ".part");
    file.open(QIODevice::WriteOnly);
    quint64 state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return unsigned(state >> 33);
    };
    auto word = [&](QByteArray &out, int parts) {
        for (int i = 0; i < parts; ++i)
            out += syllables[next() % 16];
    };
    QByteArray chunk;
    for (qint64 i = 0; i < lines; ++i) {
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

struct Result
{
    double seconds = 0;
    long peakMiB = 0;
};

// Runs work in a child process; its wall time and peak resident memory.
Result measure(const std::function<void()> &work)
{
    std::fflush(stdout);
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
    return {timer.nsecsElapsed() / 1e9, usage.ru_maxrss / 1024};
}

Result measureCommand(const QString &command)
{
    return measure(
        [&] { execl("/bin/sh", "sh", "-c", command.toLocal8Bit().constData(), nullptr); });
}

void report(const char *what, const Result &r, double megabytes)
{
    std::printf("  %-44s %8.2f s %9.0f MB/s %7ld MiB peak\n", what, r.seconds,
                megabytes / r.seconds, r.peakMiB);
}

double sizeMB(const QString &path)
{
    return QFileInfo(path).size() / 1e6;
}

// Runs the work with the five windows created, offscreen, dialogs scripted.
void withWindows(int argc, char **argv, const std::function<void()> &work)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CreateApplicationWindows();
    ErrorDisplay::setSink([](const QString &m) { std::printf("  error: %s\n", qPrintable(m)); });
    work();
    DestroyApplicationWindows();
}

void benchLineReader()
{
    const QString file = generate("addresses-5M.txt", 5000000, true);
    std::printf("LineReader, %s (%.0f MB)\n", qPrintable(file), sizeMB(file));
    measureCommand("cat '" + file + "' > /dev/null"); // warm the page cache
    auto readAll = [&](bool reuse) {
        return measure([&] {
            LineReader reader(file);
            qint64 lines = 0, chars = 0;
            QString line;
            while (!reader.EndOfStream()) {
                if (reuse)
                    reader.ReadLine(line);
                else
                    line = reader.ReadLine();
                chars += line.size();
                ++lines;
            }
            std::printf("  %lld lines, %lld characters\n", (long long)lines, (long long)chars);
        });
    };
    const Result ours = readAll(true);
    const Result fresh = readAll(false);
    const Result wc = measureCommand("wc -l < '" + file + "' > '" + benchDir() + "/wc.out'");
    report("LineReader, every line into one string", ours, sizeMB(file));
    report("LineReader, a new string per line", fresh, sizeMB(file));
    report("wc -l", wc, sizeMB(file));
    std::printf("  LineReader takes %.2f x the time of wc -l\n", ours.seconds / wc.seconds);
}

void benchExtraction(int argc, char **argv)
{
    const QString file = generate("addresses-5M.txt", 5000000, true);
    std::printf("Extract Emails Open, %s (%.0f MB, 5,000,000 lines)\n", qPrintable(file),
                sizeMB(file));
    measureCommand("cat '" + file + "' > /dev/null");
    const Result ours = measure([&] {
        withWindows(argc, argv, [&] {
            Fiche_principale->ui->SpeedButton1->click(); // the window is on screen
            FileDialog::scriptAnswer(file);
            FExtraction->ui->Button4->click();
            std::printf("  %d addresses listed; %s\n", FExtraction->ui->ListBox1->count(),
                        qPrintable(FExtraction->ui->Memo2->text().split("\r\n").value(2)));
        });
    });
    // Into a file: grep stops at the first match when it writes to /dev/null.
    const Result grep = measureCommand("grep -aoE '[^[:space:]]*@[^[:space:]]*' '" + file +
                                       "' > '" + benchDir() + "/grep.out'");
    report("Open: size, count, scan, list", ours, sizeMB(file));
    report("grep -aoE '[^[:space:]]*@[^[:space:]]*'", grep, sizeMB(file));
}

void benchEditText(int argc, char **argv)
{
    const QString file = generate("dictionary-2M.txt", 2000000, false);
    const QString out = benchDir() + "/dictionary-2M.decorated";
    std::printf("Edit Text Open, Start, Save, %s (%.0f MB, 2,000,000 lines)\n", qPrintable(file),
                sizeMB(file));
    measureCommand("cat '" + file + "' > /dev/null");
    const Result ours = measure([&] {
        withWindows(argc, argv, [&] {
            Fiche_principale->ui->SpeedButton4->click();
            FileDialog::scriptAnswer(file);
            Fedittext->ui->Button4->click();
            Fedittext->ui->Edit1->setText("x");
            Fedittext->ui->Edit2->setText("y");
            Fedittext->ui->Button1->click();
            FileDialog::scriptAnswer(out);
            Fedittext->ui->Button6->click();
        });
    });
    const Result sed = measureCommand("sed 's/^/x/;s/$/y/' '" + file + "' > '" + out + ".sed'");
    report("Open + Start + Save", ours, sizeMB(file));
    report("sed 's/^/x/;s/$/y/'", sed, sizeMB(file));
    std::printf("  saved %.0f MB\n", sizeMB(out));
}

void benchJoin(int argc, char **argv)
{
    QStringList parts;
    for (int i = 1; i <= 3; ++i)
        parts << generateBytes(QString("join-part%1.bin").arg(i), 300000000);
    const QString out = benchDir() + "/joined.bin";
    std::printf("Join Files, three files of 300 MB\n");
    measureCommand("cat '" + parts.join("' '") + "' > /dev/null");
    const Result ours = measure([&] {
        withWindows(argc, argv, [&] {
            for (const QString &p : parts) {
                FileDialog::scriptAnswer(p);
                Fjointure->ui->Button1->click();
            }
            Fjointure->ui->Edit1->setText(out);
            Fjointure->ui->Button2->click();
        });
    });
    const Result cat = measureCommand("cat '" + parts.join("' '") + "' > '" + out + ".cat'");
    report("Join Files", ours, 900);
    report("cat", cat, 900);
    QFile::remove(out + ".cat");
}

void benchCut(int argc, char **argv)
{
    const QString source = generateBytes("cut-source-1GB.bin", 1000000000);
    const QString pieces = benchDir() + "/pieces";
    QDir(pieces).removeRecursively();
    QDir().mkpath(pieces);
    std::printf("Cut Files, 1 GB into 3 pieces\n");
    measureCommand("cat '" + source + "' > /dev/null");
    const Result ours = measure([&] {
        withWindows(argc, argv, [&] {
            FileDialog::scriptAnswer(source);
            Fcoupure->ui->Button4->click();
            QDir::setCurrent(pieces);
            Fcoupure->ui->Edit2->setText("3");
            Fcoupure->UpDown1Click();
            Fcoupure->ui->Button1->click();
            Fcoupure->ui->Button2->click();
        });
    });
    const Result split =
        measureCommand("cd '" + pieces + "' && split -n 3 '" + source + "' piece-");
    report("Cut", ours, 1000);
    report("split -n 3", split, 1000);
    QDir(pieces).removeRecursively();
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
    if (wanted("edittext"))
        benchEditText(argc, argv);
    if (wanted("join"))
        benchJoin(argc, argv);
    if (wanted("cut"))
        benchCut(argc, argv);
    return 0;
}
