// The command line and the windows on the same inputs: the same bytes, the same messages.
#include "WindowTest.h"
#include "primitives/Clock.h"
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fjointure.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <csignal>
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
        // Save Emails with its three choices and extract with its three options agree.
        FExtraction->ui->UniqueCheckBox->setChecked(true);
        FExtraction->ui->SortedCheckBox->setChecked(true);
        FExtraction->ui->ValidOnlyCheckBox->setChecked(true);
        answer(f->path("window-chosen.txt"));
        FExtraction->ui->Button6->click();
        QCOMPARE(cli({"extract", "--unique", "--sort", "--valid", file}, f->dir.path()).out,
                 WindowFixture::read(f->path("window-chosen.txt")));
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
        QDir().mkdir(f->path("window"));
        QDir().mkdir(f->path("cli"));
        answer(source);
        Fcoupure->ui->Button4->click();
        Fcoupure->ui->Edit2->setText("3");
        Fcoupure->UpDown1Click();
        Fcoupure->ui->Button1->click();
        QDir::setCurrent(f->path("window"));
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
        // The output is the input: made whole, then put in its place.
        run = cli({"edit", "--prefix", "<", "--suffix", ">", in, "-o", in}, f->dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WindowFixture::read(in), QByteArray("a@b c\r\nx\r\n<a@b c>\r\n<x>\r\n"));
    }

#ifdef Q_OS_UNIX
    // A signal during a save removes the temporary and makes no target.
    void interruptedSave_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void interruptedSave()
    {
        QFETCH(int, signal);
        QByteArray line = "someone@example.com and a few more words on the line\n";
        QByteArray bytes;
        bytes.reserve(64 << 20);
        while (bytes.size() < (64 << 20))
            bytes += line;
        const QString in = f->write("big.txt", bytes);
        QProcess process;
        process.setWorkingDirectory(f->dir.path());
        // Signals as a terminal leaves them, however the tests were started (a background
        // job ignores SIGINT, nohup SIGHUP: the program then leaves them ignored).
        process.setChildProcessModifier([] {
            for (const int each : {SIGINT, SIGTERM, SIGHUP})
                ::signal(each, SIG_DFL);
        });
        process.start(QStringLiteral(QUORVANE_CLI_PATH), {"extract", in, "-o", "new.txt"});
        QVERIFY(process.waitForStarted());
        QDir dir(f->dir.path());
        QElapsedTimer waited;
        waited.start();
        while (dir.entryList({".qv-*"}, QDir::Files | QDir::Hidden).isEmpty() &&
               process.state() == QProcess::Running && waited.elapsed() < 60000)
            QThread::msleep(1);
        if (process.state() != QProcess::Running)
            QSKIP("the save ended before the signal could be sent");
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(dir.entryList({".qv-*"}, QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!QFile::exists(f->path("new.txt")));
    }
#endif

    void usageErrors()
    {
        for (const QStringList &arguments :
             {QStringList{}, QStringList{"frobnicate"}, QStringList{"join", "a"},
              QStringList{"cut", "-n", "0", "a"}, QStringList{"extract"}, QStringList{"--bogus"},
              QStringList{"count", "-n", "3", "a"},
              QStringList{"extract", "-o", "x", "-o", "y", "a"},
              QStringList{"edit", "--prefix", "p", "-"}, QStringList{"cut", "-q", "-q", "a"}}) {
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
