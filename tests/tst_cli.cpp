// The command line and the windows on the same inputs: the same bytes, the same messages.
#include "WindowTest.h"
#include "primitives/Clock.h"
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fjointure.h"

#include <QProcess>

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
            QString::fromLocal8Bit(process.readAllStandardError()).trimmed()};
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
            return;
        }
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WindowFixture::read(f->path("cli.txt")),
                 WindowFixture::read(f->path("window.txt")));
        // To standard output, the same bytes.
        QCOMPARE(cli({"extract", file}, f->dir.path()).out,
                 WindowFixture::read(f->path("window.txt")));
    }

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
        const QStringList sources{f->path("a.txt"), f->path("b")};
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
        QCOMPARE(names.size(), PieceNames.size());
        for (qsizetype b = 0; b < names.size(); ++b) {
            QCOMPARE(names[b].section('_', 0, 1), PieceNames[b].section('_', 0, 1));
            QCOMPARE(WindowFixture::read(f->path("cli/" + names[b])),
                     WindowFixture::read(f->path("window/" + PieceNames[b])));
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

    void usageErrors()
    {
        for (const QStringList &arguments :
             {QStringList{}, QStringList{"frobnicate"}, QStringList{"join", "a"},
              QStringList{"cut", "-n", "0", "a"}, QStringList{"extract"}, QStringList{"--bogus"}}) {
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
