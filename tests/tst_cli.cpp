// The command line and the windows on the same inputs: the same bytes, the same messages.
#include "WindowTest.h"
#include "primitives/Clock.h"
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fjointure.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>
#ifdef Q_OS_UNIX
#include "ResourceLimit.h"
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QString error;
};

CliRun cli(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(QUORVANE_CLI_PATH), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), process.readAllStandardOutput(),
            QString::fromLocal8Bit(process.readAllStandardError()).trimmed().replace("\r\n", "\n")};
}

} // namespace

// Select File, the piece count, its size and "ok" in the Cut window, with folders "window"
// and "cli" for the pieces; the window's pieces land in the first.
void planWindowCut(const WindowFixture &f, const QString &source, const QString &count)
{
    QDir().mkdir(f.path("window"));
    QDir().mkdir(f.path("cli"));
    answer(source);
    Fcoupure->ui->Button4->click();
    Fcoupure->ui->Edit2->setText(count);
    Fcoupure->UpDown1Click();
    Fcoupure->ui->Button1->click();
    QDir::setCurrent(f.path("window"));
}

class TestCli : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

  private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup()
    {
        Clock::setNow({});
        f.reset();
    }

    void extract_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("lines") << QByteArray("hello a@b.c\nno address\n\"x y@z\" w@v,\n");
        QTest::newRow("letter case") << QByteArray("Ann@X.org ann@x.ORG \xC3\x89l@x.fr\n"
                                                   "\xC3\xA9L@X.FR b@x ann@x.org\n");
        QTest::newRow("NUL, marks, quotes")
            << QByteArray("a\0b@c\nx@y\0 z@w\n\t\xCC\x81q@r \"p\"\"@s\"\n", 31);
        QTest::newRow("UTF-8 with a mark, code page output")
            << QByteArray("\xEF\xBB\xBF\xE2\x82\xAC@euro \xD0\x96@zhe\r\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("encoding error") << QByteArray("a@b\n\xFF@c\n");
        QByteArray many;
        for (int i = 0; i < 5000; ++i)
            many += "line" + QByteArray::number(i) + "@host\n";
        QTest::newRow("encoding error after many lines") << many + "x@y \xFF\n";
        QTest::newRow("count of 0: a Ctrl-Z first, 1500 lines") << "\x1A" + many.left(30000);
        // Longer than a part: the command line reads it in parts, the window whole.
        QByteArray longLine;
        for (int i = 0; longLine.size() < 600000; ++i)
            longLine += "w" + QByteArray::number(i) + (i % 50 == 0 ? "@h.org " : " ") +
                        (i % 997 == 0 ? "\"q \"\"x@y\" " : "") +
                        (i % 1301 == 0 ? "\t\xCC\x81z@m " : "");
        QTest::newRow("a line longer than a part") << longLine + "\nlast@line\n";
        QByteArray cut = longLine;
        cut[400000] = '\0';
        QTest::newRow("a long line cut by a NUL") << cut + "\nlast@line\n";
    }
    void extract()
    {
        QFETCH(QByteArray, bytes);
        const QString file = f->write("in.txt", bytes);
        answer(file);
        FExtraction->ui->Button4->click();
        const QString windowError = f->takeError();
        answer(f->path("window.txt"));
        FExtraction->ui->Button6->click();
        const CliRun run = cli({"extract", file, "-o", f->path("cli.txt")}, f->dir.path());
        if (!windowError.isEmpty()) {
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.error, windowError);
            QVERIFY(!QFile::exists(f->path("cli.txt"))); // nothing half saved
            // Standard output ends with the pieces the window lists, each whole.
            const CliRun toOutput = cli({"extract", file}, f->dir.path());
            QCOMPARE(toOutput.exitCode, 1);
            QCOMPARE(toOutput.out, WindowFixture::read(f->path("window.txt")));
            return;
        }
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WindowFixture::read(f->path("cli.txt")),
                 WindowFixture::read(f->path("window.txt")));
        // Standard input to standard output ("-" for both), the same bytes.
        QProcess filter;
        filter.start(QStringLiteral(QUORVANE_CLI_PATH), {"extract", "-", "-o", "-"});
        filter.write(bytes);
        filter.closeWriteChannel();
        QVERIFY(filter.waitForFinished(60000));
        QCOMPARE(filter.exitCode(), 0);
        QCOMPARE(filter.readAllStandardOutput(), WindowFixture::read(f->path("window.txt")));
        // To standard output, the same bytes.
        QCOMPARE(cli({"extract", file}, f->dir.path()).out,
                 WindowFixture::read(f->path("window.txt")));
        // Save Emails with its choices and extract with its options agree.
        QVERIFY(!FExtraction->ui->IgnoreCaseCheckBox->isEnabled()); // only with Unique
        FExtraction->ui->UniqueCheckBox->setChecked(true);
        FExtraction->ui->SortedCheckBox->setChecked(true);
        FExtraction->ui->ValidOnlyCheckBox->setChecked(true);
        answer(f->path("window-chosen.txt"));
        FExtraction->ui->Button6->click();
        QCOMPARE(cli({"extract", "--unique", "--sort", "--valid", file}, f->dir.path()).out,
                 WindowFixture::read(f->path("window-chosen.txt")));
        FExtraction->ui->SortedCheckBox->setChecked(false);
        FExtraction->ui->ValidOnlyCheckBox->setChecked(false);
        FExtraction->ui->IgnoreCaseCheckBox->setChecked(true);
        answer(f->path("window-folded.txt"));
        FExtraction->ui->Button6->click();
        QCOMPARE(cli({"extract", "--unique", "--ignore-case", file}, f->dir.path()).out,
                 WindowFixture::read(f->path("window-folded.txt")));
    }

#ifdef Q_OS_UNIX
    // --unique --sort against sort(1) in the C locale on the plain list: the same bytes, also
    // with runs spilled (a list larger than a run: 3 M pieces of 25 bytes).
    void uniqueSortedAgainstSort_data()
    {
        QTest::addColumn<int>("lines");
        QTest::newRow("small") << 3000;
        QTest::newRow("spilled runs") << 1000000;
    }
    void uniqueSortedAgainstSort()
    {
        QFETCH(int, lines);
        QByteArray text;
        const char *const tails[] = {"x.com", "\xc3\xa9t\xc3\xa9.fr", "\xe2\x82\xac.org"};
        for (int i = 0; i < lines; ++i) {
            const qint64 n =
                (qint64(i) * 7919) % (lines * 7 / 10 + 1); // three in ten are duplicates
            text += "u" + QByteArray::number(n) + "@" + tails[n % 3] + " v" +
                    QByteArray::number(n % 1000) + "@y.net " + "w@" + QByteArray::number(i % 50) +
                    "z.de\n";
        }
        const QString file = f->write("list.txt", text);
        const CliRun plain = cli({"extract", "-o", "plain.txt", file}, f->dir.path());
        QCOMPARE(plain.exitCode, 0);
        QProcess sort;
        sort.setWorkingDirectory(f->dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LC_ALL", "C");
        sort.setProcessEnvironment(environment);
        sort.start("sort", {"-u", "plain.txt", "-o", "sorted.txt"});
        QVERIFY(sort.waitForFinished(120000));
        QCOMPARE(sort.exitCode(), 0);
        const CliRun ours =
            cli({"extract", "--unique", "--sort", "-o", "ours.txt", file}, f->dir.path());
        QCOMPARE(ours.exitCode, 0);
        const QByteArray expected = WindowFixture::read(f->path("sorted.txt"));
        QVERIFY(expected.count('\n') > lines / 2);
        QVERIFY(WindowFixture::read(f->path("ours.txt")) == expected);
    }
#endif

    void edit_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << "x"
                               << "y";
        QTest::newRow("no final break") << QByteArray("a\r\nb") << "x"
                                        << "y";
        QTest::newRow("lone CR and LF, empty lines") << QByteArray("a\rb\n\nc\r") << "<"
                                                     << "";
        QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBFz\xC3\xA9\n") << "é"
                                         << "";
        QTest::newRow("UTF-16") << QByteArray("\xFF\xFE"
                                              "a\0\n\0b\0",
                                              8)
                                << "["
                                << "]";
        QTest::newRow("NUL in the file") << QByteArray("ab\0cd\nef\n", 9) << "x"
                                         << "y";
        QTest::newRow("empty") << QByteArray() << "x"
                               << "y";
        // Longer than a part: the command line takes it in parts, the window whole.
        QByteArray longLine(300000, 'w');
        longLine.replace(262143, 4, "\xF0\x9F\x98\x80"); // a pair across the first part's end
        QTest::newRow("a line longer than a part") << longLine + "\nshort\n"
                                                   << "<"
                                                   << ">";
        QByteArray cutLate = longLine;
        cutLate[290000] = '\0';
        QTest::newRow("a long line cut by a NUL after a part") << cutLate + "\nnext\n"
                                                               << "<"
                                                               << ">";
        // Blocks (1 MiB) of code page text that are their Latin-1 characters go on as bytes,
        // others decoded: CR LF across the two kinds, both ways.
        const QByteArray high = QByteArray("\xE9").repeated((1 << 20) - 1);
        QTest::newRow("code page blocks, bytes then decoded") << high + "\r\n\x80x\n"
                                                              << "x"
                                                              << "y";
        QTest::newRow("code page blocks, decoded then bytes")
            << "\x80" + high.first(high.size() - 1) + "\r\n\xE9x"
            << "x"
            << "y";
        QTest::newRow("code page text, UTF-8 error in Start")
            << QByteArray("ok\n\xE9t\xE9\n") << "x"
            << "y";
    }
    void edit()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, prefix);
        QFETCH(QString, suffix);
        const QString file = f->write("in.txt", bytes);
        answer(file);
        Fedittext->ui->Button4->click();
        Fedittext->ui->Edit1->setText(prefix);
        Fedittext->ui->Edit2->setText(suffix);
        Fedittext->ui->Button1->click();
        const QString windowError = f->takeError();
        answer(f->path("window.txt"));
        Fedittext->ui->Button6->click();
        const CliRun run =
            cli({"edit", "--prefix", prefix, "--suffix", suffix, file, "-o", f->path("cli.txt")},
                f->dir.path());
        if (!windowError.isEmpty()) {
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.error, windowError);
            QVERIFY(!QFile::exists(f->path("cli.txt")));
            return;
        }
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WindowFixture::read(f->path("cli.txt")),
                 WindowFixture::read(f->path("window.txt")));
    }

    void joinCutAndCount()
    {
        f->write("a.txt", "A1");
        f->write("a._2", "A2");
        f->write("b", QByteArray(70000, 'b'));
        // Named as the system names them, as the dialogs give them and a user types them.
        const QStringList sources{QDir::toNativeSeparators(f->path("a.txt")),
                                  QDir::toNativeSeparators(f->path("b"))};
        for (const QString &source : sources) {
            answer(source);
            Fjointure->ui->Button1->click();
        }
        Fjointure->ui->Edit1->setText(f->path("window.bin"));
        Fjointure->ui->Button2->click();
        CliRun run = cli(QStringList{"join", "-o", f->path("cli.bin")} + sources, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WindowFixture::read(f->path("cli.bin")),
                 WindowFixture::read(f->path("window.bin")));

        // A destination that is one of the files: the same refusal.
        Fjointure->ui->Edit1->setText(f->path("a._2"));
        Fjointure->ui->Button2->click();
        const QString windowError = f->takeError();
        run = cli(QStringList{"join", "-o", f->path("a._2")} + sources, f->dir.path());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.error, windowError);

        // Cut: the same pieces, named the same but for the time stamp.
        const QString source = f->write("big.dat", QByteArray(10 * 1024 + 300, 'x') + "end");
        planWindowCut(*f, source, "3");
        Fcoupure->ui->Button2->click();
        run = cli({"cut", "-n", "3", source}, f->path("cli"));
        QCOMPARE(run.exitCode, 0);
        const QStringList names = QString::fromLocal8Bit(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(names.size(), Fcoupure->Job.PieceNames.size());
        for (qsizetype b = 0; b < names.size(); ++b) {
            QCOMPARE(names[b].section('_', 0, 1), Fcoupure->Job.PieceNames[b].section('_', 0, 1));
            QCOMPARE(WindowFixture::read(f->path("cli/" + names[b])),
                     WindowFixture::read(f->path("window/" + Fcoupure->Job.PieceNames[b])));
        }

        // Count: the count field of Open.
        const QString lines = f->write("lines.txt", "a\nb\r\nc\x1A"
                                                    "d\n");
        answer(lines);
        FExtraction->ui->Button4->click();
        run = cli({"count", lines}, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromLatin1(run.out).trimmed(), FExtraction->ui->Edit3->text());
    }

    // The line count pass, counted by hand: the command's output and the window's count field.
    void count_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("lines");
        QTest::newRow("empty") << QByteArray() << QByteArray("0");
        QTest::newRow("no final LF") << QByteArray("a\nb") << QByteArray("2");
        QTest::newRow("CR LF, lone CR ends no line")
            << QByteArray("a\r\nb\rc\r\n") << QByteArray("2");
        QTest::newRow("empty lines") << QByteArray("\n\n\n") << QByteArray("3");
        QTest::newRow("Ctrl-Z first") << QByteArray("\x1A"
                                                    "a\nb\n")
                                      << QByteArray("0");
        QTest::newRow("Ctrl-Z at a line start ends the input") << QByteArray("a\n\x1A"
                                                                             "b\nc\n")
                                                               << QByteArray("1");
        QTest::newRow("Ctrl-Z inside a line ends that line") << QByteArray("a\x1A"
                                                                           "b\nc")
                                                             << QByteArray("3");
        QTest::newRow("NUL counts as any byte") << QByteArray("a\0b\n\0", 6) << QByteArray("2");
    }
    void count()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, lines);
        const QString file = f->write("count.txt", bytes);
        const CliRun run = cli({"count", file}, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, lines + "\n");
        answer(file);
        FExtraction->ui->Button4->click();
        QCOMPARE(FExtraction->ui->Edit3->text().toLatin1(), lines);
    }

    // Names the window and the command line both open: longer than the old runtime's 259
    // characters, and bytes that are no UTF-8 (the command line only: dialogs give text).
    void namesTheSystemTakes()
    {
        const QString folder = f->path(QString(200, 'd'));
        QVERIFY(QDir().mkdir(folder));
        const QString longName = folder + "/" + QString(100, 'n') + ".txt";
        QFile file(longName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("a@b\nc\n");
        file.close();
        QVERIFY(longName.size() > 259);
        answer(longName);
        FExtraction->ui->Button4->click();
        QCOMPARE(f->takeError(), QString());
        QCOMPARE(FExtraction->ui->Edit3->text(), QString("2"));
        CliRun run = cli({"count", longName}, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("2\n"));
        // Saved, joined and cut there too: names of over 300 characters.
        const QString deep = folder + "/" + QString(120, 'e');
        QVERIFY(QDir().mkdir(deep));
        const QString saved = deep + "/" + QString(60, 's') + ".txt";
        QVERIFY(saved.size() > 300);
        QCOMPARE(cli({"extract", longName, "-o", saved}, f->dir.path()).exitCode, 0);
        QCOMPARE(WindowFixture::read(saved), QByteArray("a@b\r\n"));
        const QString joined = deep + "/" + QString(60, 'j') + ".txt";
        QCOMPARE(cli({"join", "-o", joined, longName, saved}, f->dir.path()).exitCode, 0);
        QCOMPARE(WindowFixture::read(joined), QByteArray("a@b\nc\na@b\r\n"));
        QCOMPARE(cli({"join", "-o", deep + "/" + QString(60, 'c') + ".txt",
                      f->write("c.txt", QByteArray(3000, 'c'))},
                     f->dir.path())
                     .exitCode,
                 0);
        // (A process cannot be started in a current folder that long on Windows: the pieces
        // land in a short one.)
        run = cli({"cut", "-n", "2", deep + "/" + QString(60, 'c') + ".txt"}, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        const QStringList pieces = QString::fromLocal8Bit(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(pieces.size(), 2);
        QCOMPARE(WindowFixture::read(f->path(pieces[1])), QByteArray(3000 - 1024, 'c'));
        QCOMPARE(QDir(deep).entryList({".qv-*"}, QDir::Files | QDir::Hidden), QStringList());

#ifdef Q_OS_UNIX
        // A name in bytes that are no UTF-8, given as the system gives it.
        const QByteArray raw = QFile::encodeName(f->dir.path()) + "/n\xE9.txt";
        FILE *out = std::fopen(raw.constData(), "wb");
        QVERIFY(out);
        std::fputs("x@y\n", out);
        std::fclose(out);
        QProcess process;
        process.setWorkingDirectory(f->dir.path());
        // QProcess passes arguments as UTF-8: the shell hands on the raw bytes.
        process.start("/bin/sh", {"-c", "exec \"$0\" extract \"$(printf 'n\\351.txt')\"",
                                  QStringLiteral(QUORVANE_CLI_PATH)});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.readAllStandardError(), QByteArray());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), QByteArray("x@y\r\n"));
        ::unlink(raw.constData());
#endif
    }

    // What went wrong is said and is exit status 1, even when part of the work was done.
    void failuresAreReported()
    {
        const QString in = f->write("in.txt", "a@b c\nx\n");
        // A join names each source it passes over, and writes what the window writes.
        CliRun run = cli({"join", "-o", f->path("all.txt"), in, "typo.txt", "."}, f->dir.path());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.error, QString("quorvane-cli: passed over typo.txt: no such file\n"
                                    "quorvane-cli: passed over .: not a file"));
        QCOMPARE(WindowFixture::read(f->path("all.txt")), QByteArray("a@b c\nx\n"));
#ifdef Q_OS_UNIX
        // Standard output that cannot be written.
        const QString big = f->write("big.dat", QByteArray(3 * 1024, 'x'));
        for (const QStringList &arguments : {QStringList{"count", in}, QStringList{"extract", in},
                                             QStringList{"cut", "-n", "2", big}}) {
            QProcess process;
            process.setWorkingDirectory(f->dir.path());
            process.setStandardOutputFile("/dev/full");
            process.start(QStringLiteral(QUORVANE_CLI_PATH), arguments);
            QVERIFY(process.waitForFinished(60000));
            QCOMPARE(process.exitCode(), 1);
            QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()).trimmed(),
                     QString("Erreur d'écriture dans le flux."));
        }
#endif
        // A source that cannot be opened: the same open error from every command.
        run = cli({"count", "typo.txt"}, f->dir.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.error.startsWith("Impossible d'ouvrir le fichier"), qPrintable(run.error));
        QCOMPARE(run.error, cli({"extract", "typo.txt"}, f->dir.path()).error);
        // An empty name is refused as the empty name, not as a failed write or the folder.
        run = cli({"extract", in, "-o", ""}, f->dir.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.error.startsWith("Impossible de créer le fichier \"\". "),
                 qPrintable(run.error));
        // The output is the input: made whole, then put in its place.
        run = cli({"edit", "--prefix", "<", "--suffix", ">", in, "-o", in}, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WindowFixture::read(in), QByteArray("a@b c\r\nx\r\n<a@b c>\r\n<x>\r\n"));
    }

#ifdef Q_OS_UNIX
    // A signal during a save, a join or a cut: no temporary left, no unfinished output, the
    // old destination as it was, the pieces already whole kept and named, 128 + the signal;
    // SIGKILL too leaves no temporary where the file system makes nameless files.
    void interrupted_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("signal");
        for (const auto &[name, signal] :
             {std::pair{"SIGINT", SIGINT}, std::pair{"SIGTERM", SIGTERM},
              std::pair{"SIGHUP", SIGHUP}}) {
            QTest::addRow("save, %s", name) << "save" << signal;
            QTest::addRow("join, %s", name) << "join" << signal;
        }
        QTest::newRow("cut, SIGTERM") << "cut" << int(SIGTERM);
        // Nothing catches it: the temporary has no name to leave behind.
        QTest::newRow("save, SIGKILL") << "save" << int(SIGKILL);
        QTest::newRow("join, SIGKILL") << "join" << int(SIGKILL);
    }
    void interrupted()
    {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QDir dir(f->dir.path());
        auto temporaries = [&] { return dir.entryList({".qv-*"}, QDir::Files | QDir::Hidden); };
        QStringList arguments;
        QProcess process;
        // Once the program writes its temporary: named, or nameless (only its descriptor
        // shows it, as a deleted file of the folder).
        std::function<bool()> ready = [&] {
            if (!temporaries().isEmpty())
                return true;
            const QByteArray fds = "/proc/" + QByteArray::number(process.processId()) + "/fd/";
            const QByteArray folder = QFile::encodeName(dir.path()) + '/';
            for (int fd = 3; fd < 64; ++fd) {
                char target[4096];
                const ssize_t n = ::readlink(fds + QByteArray::number(fd), target, sizeof target);
                const QByteArray link(target, int(qMax<ssize_t>(n, 0)));
                if (link.startsWith(folder) && link.endsWith("(deleted)"))
                    return true;
            }
            return false;
        };
        if (command == u"save") {
            QByteArray line = "someone@example.com and a few more words on the line\n";
            QByteArray bytes;
            bytes.reserve(64 << 20);
            while (bytes.size() < (64 << 20))
                bytes += line;
            arguments = {"extract", f->write("big.txt", bytes), "-o", "new.txt"};
        } else if (command == u"join") {
            f->write("new.txt", "old");
            arguments = {"join", "-o", "new.txt",
                         sparseFile(f->path("big.bin"), qint64(512) << 20)};
        } else {
            arguments = {"cut", "-n", "3", sparseFile(f->path("big.bin"), qint64(768) << 20)};
            // Once the first piece is in place.
            ready = [&] { return dir.entryList({"big.bin_1_*"}, QDir::Files).size() == 1; };
        }
        process.setWorkingDirectory(f->dir.path());
        // Signals as a terminal leaves them, however the tests were started (a background
        // job ignores SIGINT, nohup SIGHUP: the program then leaves them ignored).
        process.setChildProcessModifier([] {
            for (const int each : {SIGINT, SIGTERM, SIGHUP})
                ::signal(each, SIG_DFL);
        });
        process.start(QStringLiteral(QUORVANE_CLI_PATH), arguments);
        QVERIFY(process.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (!ready() && process.state() == QProcess::Running && waited.elapsed() < 60000)
            QThread::msleep(1);
        if (process.state() != QProcess::Running)
            QSKIP("the command ended before the signal could be sent");
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), signal);
        QCOMPARE(temporaries(), QStringList());
        if (command == u"save")
            QVERIFY(!QFile::exists(f->path("new.txt")));
        if (command == u"join")
            QCOMPARE(WindowFixture::read(f->path("new.txt")), QByteArray("old"));
        if (command == u"cut") {
            const QStringList pieces = dir.entryList({"big.bin_*"}, QDir::Files);
            QVERIFY2(!pieces.isEmpty() && pieces.size() < 3, qPrintable(pieces.join(' ')));
            for (const QString &piece : pieces)
                QCOMPARE(QFileInfo(f->path(piece)).size(), qint64(256) << 20);
            QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()),
                     "quorvane-cli: interrupted; the unfinished piece was removed; pieces kept:\n" +
                         pieces.join('\n') + '\n');
        }
    }

    // A save over a file with a second name is written in place at its end: a signal then
    // waits until the new bytes are whole, so the target holds the old bytes or the new.
    void signalDuringInPlaceOverwrite()
    {
        QByteArray bytes;
        for (int i = 0; bytes.size() < (24 << 20); ++i)
            bytes += "word" + QByteArray::number(i) + "\n";
        const QString in = f->write("in.txt", bytes);
        const QStringList edit{"edit", "--prefix", "<", "--suffix", ">", in, "-o"};
        QCOMPARE(cli(edit + QStringList{f->path("expected.txt")}, f->dir.path()).exitCode, 0);
        const QByteArray expected = WindowFixture::read(f->path("expected.txt"));
        const QString target = f->write("target.txt", QByteArray(expected.size() + 100, 'o'));
        QCOMPARE(::link(QFile::encodeName(target).constData(),
                        QFile::encodeName(f->path("second.txt")).constData()),
                 0);
        const QByteArray targetName = QFile::encodeName(target);
        auto modified = [&] {
            struct stat st = {};
            ::stat(targetName.constData(), &st);
            return std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        };
        const auto before = modified();
        QProcess process;
        process.setChildProcessModifier([] { ::signal(SIGTERM, SIG_DFL); });
        process.start(QStringLiteral(QUORVANE_CLI_PATH), edit + QStringList{target});
        QVERIFY(process.waitForStarted());
        // The moment the old bytes start to change.
        QElapsedTimer waited;
        waited.start();
        while (modified() == before && process.state() == QProcess::Running &&
               waited.elapsed() < 60000)
            ;
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(60000));
        const QByteArray now = WindowFixture::read(target);
        QVERIFY2(now == expected || now == QByteArray(expected.size() + 100, 'o'),
                 "the target holds a mix of old and new bytes");
        QCOMPARE(WindowFixture::read(f->path("second.txt")), now);
    }

    // A join's source that fails part-way (a named pipe is never read): the destination as
    // it was, nothing left beside it.
    void joinFailureKeepsDestination()
    {
        const QString a = f->write("a.txt", "A");
        ::mkfifo(QFile::encodeName(f->path("p.txt")).constData(), 0644);
        const QString dest = f->write("dest.txt", "old");
        const CliRun run = cli({"join", "-o", dest, a, f->path("p.txt")}, f->dir.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.error.startsWith("Impossible d'ouvrir le fichier"), qPrintable(run.error));
        QCOMPARE(WindowFixture::read(dest), QByteArray("old"));
        QCOMPARE(QDir(f->dir.path()).entryList({".qv-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // A join into a named pipe whose reader stops early ends as cat ends, not waiting for
    // ever on a read end of its own.
    void joinIntoPipeWhoseReaderStops()
    {
        const QByteArray fifo = QFile::encodeName(f->path("fifo"));
        QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        QProcess process;
        process.start(QStringLiteral(QUORVANE_CLI_PATH),
                      {"join", "-o", f->path("fifo"), f->write("big", QByteArray(4 << 20, 'x'))});
        QVERIFY(process.waitForStarted());
        char some[10];
        QElapsedTimer waited;
        waited.start();
        while (::read(reader, some, sizeof some) <= 0 && waited.elapsed() < 60000)
            QThread::msleep(1);
        ::close(reader);
        QVERIFY(process.waitForFinished(60000));
        QVERIFY(process.exitStatus() == QProcess::CrashExit ? process.exitCode() == SIGPIPE
                                                            : process.exitCode() == 1);
    }

    // Standard streams closed when the program starts: nothing it opens takes their place,
    // so a message cannot land in the destination.
    void closedStandardStreams()
    {
        const QString a = f->write("a.txt", "A");
        QProcess process;
        process.setWorkingDirectory(f->dir.path());
        process.setChildProcessModifier([] {
            ::close(1);
            ::close(2);
        });
        process.start(QStringLiteral(QUORVANE_CLI_PATH),
                      {"join", "-o", f->path("d.txt"), a, "missing.txt"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(WindowFixture::read(f->path("d.txt")), QByteArray("A"));
        // A closed standard output is the write error, not a quiet success.
        process.setChildProcessModifier([] { ::close(1); });
        process.start(QStringLiteral(QUORVANE_CLI_PATH), {"extract", f->write("e.txt", "a@b")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
    }

    // A file size limit (a full device) at the second piece of a cut: the unfinished piece
    // removed, the window's message and the command line's alike, naming the piece that
    // failed and the pieces kept.
    // Keep lines whole (and a header in every piece): the window and the command line make
    // the same pieces, the ones expected.
    void cutKeepsLinesWhole_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("header");
        QTest::addColumn<QByteArrayList>("pieces");
        // Many short lines: piece k ends with the line that holds the byte at k / count.
        QByteArray lines;
        for (int i = 0; i < 300; ++i)
            lines += "line " + QByteArray::number(i * 7) +
                     (i % 3 == 0   ? "\r\n"
                      : i % 3 == 1 ? "\n"
                                   : "\r");
        QByteArrayList thirds;
        qsizetype begin = 0;
        for (int k = 1; k <= 3; ++k) {
            qsizetype end = lines.size();
            for (qsizetype i = lines.size() * k / 3 - 1; k < 3; ++i)
                if (lines[i] == '\n' || (lines[i] == '\r' && lines[i + 1] != '\n')) {
                    end = i + 1;
                    break;
                }
            thirds << lines.mid(begin, end - begin);
            begin = end;
        }
        QTest::newRow("many lines, every kind of break") << lines << 3 << false << thirds;
        QTest::newRow("CR LF at a piece's edge")
            << QByteArray("aaa\r\nbbb\r\nccc\r\n") << 3 << false
            << QByteArrayList{"aaa\r\n", "bbb\r\n", "ccc\r\n"};
        QTest::newRow("CR LF never split")
            << QByteArray("ab\r\ncd") << 2 << false << QByteArrayList{"ab\r\n", "cd"};
        QTest::newRow("CR LF across the reader's block")
            << QByteArray(QByteArray((1 << 20) - 1, 'x') + "\r\ny\nz\n") << 3 << false
            << QByteArrayList{QByteArray((1 << 20) - 1, 'x') + "\r\n", "y\n", "z\n"};
        QTest::newRow("lone CR and LF at the edges")
            << QByteArray("aaaa\rbbbb\ncccc\r") << 3 << false
            << QByteArrayList{"aaaa\r", "bbbb\n", "cccc\r"};
        QTest::newRow("a line longer than a piece")
            << QByteArray("a\n" + QByteArray(100, 'L') + "\nb\nc\n") << 3 << false
            << QByteArrayList{"a\n" + QByteArray(100, 'L') + "\n", "b\n", "c\n"};
        QTest::newRow("the long line last")
            << QByteArray("a\nb\n" + QByteArray(100, 'L')) << 3 << false
            << QByteArrayList{"a\n", "b\n", QByteArray(100, 'L')};
        QTest::newRow("fewer lines than pieces")
            << QByteArray("one\ntwo\n") << 4 << false << QByteArrayList{"one\n", "two\n"};
        QTest::newRow("empty file") << QByteArray() << 3 << false << QByteArrayList{""};
        QTest::newRow("no final line end")
            << QByteArray("abc\ndef\nghi") << 2 << false << QByteArrayList{"abc\ndef\n", "ghi"};
        QTest::newRow("header") << QByteArray("name;mail\r\nA;a@x\r\nB;b@x\r\nC;c@x\r\n") << 2
                                << true
                                << QByteArrayList{"name;mail\r\nA;a@x\r\nB;b@x\r\n",
                                                  "name;mail\r\nC;c@x\r\n"};
        QTest::newRow("header line only")
            << QByteArray("name;mail\n") << 3 << true << QByteArrayList{"name;mail\n"};
        QTest::newRow("header, fewer lines than pieces")
            << QByteArray("h\nx\ny") << 3 << true << QByteArrayList{"h\nx\n", "h\ny"};
    }
    void cutKeepsLinesWhole()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, count);
        QFETCH(bool, header);
        QFETCH(QByteArrayList, pieces);
        const QString source = f->write("data.csv", content);
        QVERIFY(!Fcoupure->ui->HeaderInEveryPiece->isEnabled());
        Fcoupure->ui->KeepLinesWhole->setChecked(true);
        QVERIFY(Fcoupure->ui->HeaderInEveryPiece->isEnabled());
        Fcoupure->ui->HeaderInEveryPiece->setChecked(header);
        planWindowCut(*f, source, QString::number(count));
        Fcoupure->ui->Button2->click();
        QVERIFY2(f->errors.isEmpty(), qPrintable(f->errors.join('|')));
        QString done = "Cut Done, Check the folder !";
        if (pieces.size() < count)
            done += QString(" %1 of %2 pieces: the file has fewer lines than pieces.")
                        .arg(pieces.size())
                        .arg(count);
        QCOMPARE(Fcoupure->ui->Edit5->text(), done);
        QStringList arguments{"cut", "-n", QString::number(count), "--lines", source};
        if (header)
            arguments.insert(4, "--header");
        const CliRun run = cli(arguments, f->path("cli"));
        QCOMPARE(run.exitCode, 0);
        const QStringList names = QString::fromLocal8Bit(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(names.size(), pieces.size());
        for (qsizetype b = 0; b < Fcoupure->Job.PieceNames.size(); ++b) {
            const QString window = f->path("window/" + Fcoupure->Job.PieceNames[b]);
            if (b >= pieces.size()) {
                QVERIFY(!QFile::exists(window));
                continue;
            }
            QCOMPARE(WindowFixture::read(window), pieces[b]);
            QCOMPARE(WindowFixture::read(f->path("cli/" + names[b])), pieces[b]);
        }
    }

    // Checksums: Cut writes a file that sha256sum -c reads back; Join (the window always,
    // the command line with --verify) checks the pieces and the destination against it.
    void checksumsProveTheJoin()
    {
        QByteArray content;
        for (int i = 0; i < 500; ++i)
            content += "name" + QByteArray::number(i) + "@example.com\r\n";
        QDir().mkdir(f->path("window"));
        const QString source = f->write("window/contacts.txt", content);
        Fcoupure->ui->KeepLinesWhole->setChecked(true);
        Fcoupure->ui->WriteChecksums->setChecked(true);
        planWindowCut(*f, source, "3");
        Fcoupure->ui->Button2->click();
        QVERIFY2(f->errors.isEmpty(), qPrintable(f->errors.join('|')));
        QStringList pieces;
        for (const QString &name : std::as_const(Fcoupure->Job.PieceNames))
            pieces << f->path("window/" + name);
        const QString listing = f->path("window/contacts.txt.sha256");
        QCOMPARE(Fcoupure->Job.ChecksumFile, listing);
        const QList<QByteArray> lines = WindowFixture::read(listing).split('\n');
        QCOMPARE(lines.size(), 5); // three pieces, the source, the last line's end
        QVERIFY(lines[3].endsWith("  contacts.txt"));
        QVERIFY(lines[0].endsWith("  " + QFileInfo(pieces[0]).fileName().toUtf8()));
        const QString sha256sum = QStandardPaths::findExecutable("sha256sum");
        if (!sha256sum.isEmpty()) {
            QProcess check;
            check.setWorkingDirectory(f->path("window"));
            check.start(sha256sum, {"-c", "--quiet", "contacts.txt.sha256"});
            QVERIFY(check.waitForFinished());
            QCOMPARE(check.readAll(), QByteArray());
            QCOMPARE(check.exitCode(), 0);
        }
        // The command line's file lists the same digests.
        const CliRun cut =
            cli({"cut", "-n", "3", "--lines", "--checksums", source}, f->path("cli"));
        QCOMPARE(cut.exitCode, 0);
        QVERIFY(cut.out.trimmed().endsWith("contacts.txt.sha256"));
        const QList<QByteArray> cliLines =
            WindowFixture::read(f->path("cli/contacts.txt.sha256")).split('\n');
        QCOMPARE(cliLines.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(cliLines[i].left(64), lines[i].left(64));

        auto windowJoin = [&] {
            Fjointure->ui->ListBox1->clear();
            for (const QString &piece : pieces) {
                answer(piece);
                Fjointure->ui->Button1->click();
            }
            Fjointure->ui->Edit1->setText(f->path("joined.txt"));
            Fjointure->ui->Button2->click();
            return Fjointure->ui->Edit5->text();
        };
        auto cliJoin = [&] {
            return cli(QStringList{"join", "--verify", "-o", f->path("cli-joined.txt")} + pieces,
                       f->dir.path());
        };
        const QString done = "Files Joinded Succesfully !, Check the folder !";
        QCOMPARE(windowJoin(), done + " checksum matches (contacts.txt.sha256)");
        QCOMPARE(WindowFixture::read(f->path("joined.txt")), content);
        CliRun join = cliJoin();
        QCOMPARE(join.exitCode, 0);
        QCOMPARE(join.error, QString("quorvane-cli: checksum matches (contacts.txt.sha256)"));

        // A byte changed in the second piece: that piece is named.
        QByteArray second = WindowFixture::read(pieces[1]);
        second[5] = 'X';
        f->write("window/" + QFileInfo(pieces[1]).fileName(), second);
        const QString differs = QString("checksum differs: the piece \"%1\" is not the one "
                                        "listed in \"contacts.txt.sha256\"")
                                    .arg(QFileInfo(pieces[1]).fileName());
        QCOMPARE(windowJoin(), done + ' ' + differs);
        join = cliJoin();
        QCOMPARE(join.exitCode, 1);
        QCOMPARE(join.error, "quorvane-cli: " + differs);

        // No checksum file: the window says nothing of it, --verify fails.
        QFile::remove(listing);
        QCOMPARE(windowJoin(), done);
        join = cliJoin();
        QCOMPARE(join.exitCode, 1);
        QVERIFY(join.error.startsWith("quorvane-cli: no checksum file lists"));
    }

    void cutFailsPartWay()
    {
        const QString source = f->write("big.dat", QByteArray(30 * 1024 + 100, 'x'));
        planWindowCut(*f, source, "2");
        CliRun run;
        {
            IgnoreFileSizeLimitSignal();
            const ResourceLimit limit(RLIMIT_FSIZE, 15 * 1024 + 50); // the last piece is larger
            Fcoupure->ui->Button2->click();
            run = cli({"cut", "-n", "2", source}, f->path("cli"));
        }
        const QString windowError = f->takeError();
        QCOMPARE(Fcoupure->ui->Edit5->text(), QString("Cut failed, see the message."));
        const QStringList names = Fcoupure->Job.PieceNames;
        QCOMPARE(windowError, QString("Erreur d'écriture dans le flux. The piece \"%1\" was not "
                                      "written; kept 1 piece(s): %2.")
                                  .arg(names[1], names[0]));
        QCOMPARE(QDir(f->path("window")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{names[0]});
        QCOMPARE(run.exitCode, 1);
        const QStringList cliPieces = QDir(f->path("cli")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(cliPieces.size(), 1);
        QCOMPARE(QFileInfo(f->path("cli/" + cliPieces[0])).size(), 15 * 1024);
        auto stampless = [](QString text) {
            return text.replace(QRegularExpression("_(\\d+)_\\d+_\\d+"), "_\\1_stamp");
        };
        QCOMPARE(stampless(run.error), stampless(windowError));
    }
#endif

#ifdef Q_OS_WIN
    // A process ended outright during a save leaves no temporary: it is marked to go when
    // its last handle closes, and takes the mark off only to replace the target.
    void killedSaveLeavesNoTemporary()
    {
        QByteArray bytes;
        bytes.reserve(64 << 20);
        while (bytes.size() < (64 << 20))
            bytes += "someone@example.com and a few more words on the line\n";
        const QString in = f->write("big.txt", bytes);
        QDir dir(f->dir.path());
        auto temporaries = [&] { return dir.entryList({".qv-*"}, QDir::Files | QDir::Hidden); };
        QProcess process;
        process.setWorkingDirectory(f->dir.path());
        process.start(QStringLiteral(QUORVANE_CLI_PATH), {"extract", in, "-o", "new.txt"});
        QVERIFY(process.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        // Once the temporary holds bytes: it is marked to go from just after it is made, before
        // anything is written to it (a kill between the two leaves it, in either system).
        auto written = [&] {
            const QStringList names = temporaries();
            return !names.isEmpty() && QFileInfo(f->path(names.first())).size() > 0;
        };
        while (!written() && !process.waitForFinished(1) && waited.elapsed() < 60000)
            ;
        if (process.state() != QProcess::Running)
            QSKIP("the save ended before it could be killed");
        QVERIFY(QFileInfo(f->path(temporaries().first())).isHidden());
        process.kill();
        QVERIFY(process.waitForFinished(60000));
        waited.restart();
        while (!temporaries().isEmpty() && waited.elapsed() < 10000)
            QThread::msleep(10);
        QCOMPARE(temporaries(), QStringList());
        QVERIFY(!QFile::exists(f->path("new.txt")));
        // A save that ends normally leaves the new file visible, not hidden.
        QCOMPARE(
            cli({"extract", f->write("s.txt", "a@b"), "-o", "saved.txt"}, f->dir.path()).exitCode,
            0);
        QVERIFY(!QFileInfo(f->path("saved.txt")).isHidden());
        QCOMPARE(temporaries(), QStringList());
    }
#endif

    // An input that is also standard output is refused before anything is read, by every
    // command (as cat refuses it); the file stays as it was.
    void standardOutputIsAnInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("fromStandardInput");
        QTest::newRow("extract") << QStringList{"extract", "in.txt"} << false;
        QTest::newRow("extract -o -") << QStringList{"extract", "in.txt", "-o", "-"} << false;
        QTest::newRow("extract - from the same file")
            << QStringList{"extract", "-", "-o", "-"} << true;
        QTest::newRow("edit") << QStringList{"edit", "--prefix", "<", "in.txt"} << false;
        QTest::newRow("count") << QStringList{"count", "in.txt"} << false;
        QTest::newRow("join") << QStringList{"join", "-o", "d.txt", "in.txt"} << false;
        QTest::newRow("cut") << QStringList{"cut", "-n", "2", "in.txt"} << false;
    }
    void standardOutputIsAnInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, fromStandardInput);
        const QByteArray bytes = QByteArray("a@b c\n").repeated(1000);
        const QString in = f->write("in.txt", bytes);
        QProcess process;
        process.setWorkingDirectory(f->dir.path());
        process.setStandardOutputFile(in, QIODevice::Append);
        if (fromStandardInput)
            process.setStandardInputFile(in);
        process.start(QStringLiteral(QUORVANE_CLI_PATH), arguments);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()).trimmed(),
                 QString("The input \"%1\" is also the standard output.")
                     .arg(fromStandardInput ? "-" : "in.txt"));
        QCOMPARE(WindowFixture::read(in), bytes);
        QCOMPARE(QDir(f->dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"in.txt"});
    }

    void usageErrors()
    {
        for (const QStringList &arguments :
             {QStringList{}, QStringList{"frobnicate"}, QStringList{"join", "a"},
              QStringList{"cut", "-n", "0", "a"}, QStringList{"extract"}, QStringList{"--bogus"},
              QStringList{"count", "-n", "3", "a"},
              QStringList{"extract", "-o", "x", "-o", "y", "a"},
              QStringList{"edit", "--prefix", "p", "-"}, QStringList{"cut", "-q", "-q", "a"},
              QStringList{"cut", "-n", "2", "--header", "a"},
              QStringList{"extract", "--ignore-case", "a"}}) {
            const CliRun run = cli(arguments, f->dir.path());
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.error.contains("usage: quorvane-cli"));
        }
        const CliRun version = cli({"--version"}, f->dir.path());
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith("quorvane-cli "));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
