// What the user sees, and what is on disk, when the tools meet files they did not expect:
// pipes, folders, full devices, held files, odd names and links. Each case goes through
// the windows' controls.
#include "ResourceLimit.h"
#include "WindowTest.h"
#include "primitives/FileStream.h"
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fjointure.h"

#include <QClipboard>
#include <QGuiApplication>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList logLines()
{
    return extractionLog(FExtraction->ui->Memo2->text());
}

// A file size limit for the process while it lives: writes past it fail.
struct FileSizeLimit : ResourceLimit
{
    explicit FileSizeLimit(rlim_t bytes)
        : ResourceLimit((IgnoreFileSizeLimitSignal(), RLIMIT_FSIZE), bytes)
    {
    }
};

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".qv-*"}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

    void extract(const QString &fileName)
    {
        answer(fileName);
        FExtraction->ui->Button4->click();
    }
    void editOpen(const QString &fileName)
    {
        answer(fileName);
        Fedittext->ui->Button4->click();
    }
    void editSave(const QString &fileName)
    {
        answer(fileName);
        Fedittext->ui->Button6->click();
    }
    QString openError(const QString &fileName, const char *reason)
    {
        return QStringLiteral("Impossible d'ouvrir le fichier \"%1\". %2.").arg(fileName, reason);
    }

  private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() { f.reset(); }

    // A named pipe or a folder where a file is read: an error at once, nothing hangs and
    // nothing is created.
    void pipesAndFolders_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("named pipe") << true;
        QTest::newRow("folder") << false;
    }
    void pipesAndFolders()
    {
        QFETCH(bool, pipe);
        const QString name = f->path("odd");
        if (pipe)
            QCOMPARE(mkfifo(QFile::encodeName(name).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkdir(name));
        const char *reason = pipe ? "Operation not permitted" : "Is a directory";

        // Extract Emails: the count pass refuses it, the scan never starts.
        extract(name);
        QCOMPARE(f->takeError(), QString("Accès au fichier refusé."));
        QCOMPARE(logLines().size(), 1);                            // the size line only
        QCOMPARE(FExtraction->ui->Memo1->text(), QString("\r\n")); // as at start-up

        // Edit Text: the open error; the memo stays empty, the field names the file.
        editOpen(name);
        QCOMPARE(f->takeError(), openError(name, reason));
        QCOMPARE(Fedittext->ui->Memo1->text(), QString());
        QCOMPARE(Fedittext->ui->Edit3->text(), name);

        // Join: a pipe is the failure text and the open error; a folder is no file to join,
        // passed over as a missing one is. The destination holds nothing of either.
        answer(name);
        Fjointure->ui->Button1->click();
        answer(f->path("joined"));
        Fjointure->ui->Button3->click();
        Fjointure->ui->Button2->click();
        if (pipe) {
            QCOMPARE(Fjointure->ui->Edit5->text(), QString("Join failed, see the message."));
            QCOMPARE(f->takeError(), openError(name, reason));
        } else {
            QCOMPARE(Fjointure->ui->Edit5->text(),
                     QString("Files Joinded Succesfully !, Check the folder !"));
        }
        QCOMPARE(QFileInfo(f->path("joined")).size(), 0);

        // Cut: the failure text and the open error; no piece is created.
        const QString pieces = f->path("pieces");
        QDir().mkdir(pieces);
        answer(name);
        Fcoupure->ui->Button4->click();
        QDir::setCurrent(pieces);
        Fcoupure->ui->Edit2->setText("2");
        Fcoupure->ui->Button1->click();
        Fcoupure->ui->Edit4->setText("1");
        Fcoupure->ui->Button2->click();
        QCOMPARE(Fcoupure->ui->Edit5->text(), QString("Cut failed, see the message."));
        QCOMPARE(f->takeError(), openError(name, reason));
        QCOMPARE(QDir(pieces).entryList(QDir::Files), QStringList());
        QVERIFY(f->errors.isEmpty());
    }

    // A save that reaches the file size limit: the write error, the old file intact and no
    // temporary file left beside it.
    void saveAtFileSizeLimit()
    {
        const QString target = f->write("emails.txt", "old\r\n");
        for (int i = 0; i < 3000; ++i)
            FExtraction->ui->ListBox1->add(u"someone@example.com");
        {
            FileSizeLimit limit(16384);
            answer(target);
            FExtraction->ui->Button6->click();
        }
        QCOMPARE(f->takeError(), QString("Erreur d'écriture dans le flux."));
        QCOMPARE(WindowFixture::read(target), QByteArray("old\r\n"));
        QCOMPARE(leftovers(f->dir.path()), QStringList());

        Fedittext->ui->Memo1->setText(QString(40000, 'x'));
        {
            FileSizeLimit limit(16384);
            editSave(target);
        }
        QCOMPARE(f->takeError(), QString("Erreur d'écriture dans le flux."));
        QCOMPARE(WindowFixture::read(target), QByteArray("old\r\n"));
        QCOMPARE(leftovers(f->dir.path()), QStringList());
    }

    // Saves that used to fail or break a link: a name as long as names go, a file with a
    // second name, a file held by another opener.
    void saveNamesAndLinks()
    {
        FExtraction->ui->ListBox1->add(u"a@b");
        const QString longName = f->path(QString(255 - 4, 'n') + ".txt");
        answer(longName);
        FExtraction->ui->Button6->click();
        QVERIFY(f->errors.isEmpty());
        QCOMPARE(WindowFixture::read(longName), QByteArray("a@b\r\n"));
        QCOMPARE(leftovers(f->dir.path()), QStringList());

        const QString first = f->write("first.txt", "old");
        const QString second = f->path("second.txt");
        QCOMPARE(link(QFile::encodeName(first).constData(), QFile::encodeName(second).constData()),
                 0);
        Fedittext->ui->Memo1->setText("new text");
        editSave(first);
        QVERIFY(f->errors.isEmpty());
        QCOMPARE(WindowFixture::read(first), QByteArray("new text"));
        QCOMPARE(WindowFixture::read(second), QByteArray("new text"));

        const QString held = f->write("held.txt", "kept");
        {
            FileStream other(held, FileMode::CreateExclusive, false);
            editSave(held);
        }
        QVERIFY(f->takeError().startsWith("Impossible de créer le fichier \"" + held + "\"."));
        QCOMPARE(WindowFixture::read(held), QByteArray("kept"));
        QCOMPARE(leftovers(f->dir.path()), QStringList());
    }

    // A writable file in a folder where no file can be made: saved in place. The folder
    // is read-only for a user, immutable for the superuser (who writes in any other).
    void saveInReadOnlyFolder()
    {
        QDir().mkdir(f->path("locked"));
        const QString target = f->write("locked/list.txt", "old");
        const QByteArray folder = QFile::encodeName(f->path("locked"));
        const bool superuser = geteuid() == 0;
        auto lock = [&](bool locked) {
            if (!superuser)
                return chmod(folder.constData(), locked ? 0555 : 0755) == 0;
            const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            const bool done =
                fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                ioctl(fd, FS_IOC_SETFLAGS,
                      (flags = locked ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL,
                       &flags)) == 0;
            if (fd >= 0)
                close(fd);
            return done;
        };
        if (!lock(true))
            QSKIP("this file system cannot make a folder read-only here");
        FExtraction->ui->ListBox1->add(u"x@y");
        answer(target);
        FExtraction->ui->Button6->click();
        lock(false);
        QVERIFY(f->errors.isEmpty());
        QCOMPARE(WindowFixture::read(target), QByteArray("x@y\r\n"));
    }

    // A lone surrogate pasted at the end of a UTF-8 text is saved as the replacement
    // character, like one anywhere else.
    void loneSurrogateSaved()
    {
        editOpen(f->write("utf8.txt", "\xEF\xBB\xBF"
                                      "a"));
        QGuiApplication::clipboard()->setText(QString(QChar(0xD83D)));
        Memo *memo = Fedittext->ui->Memo1;
        memo->select(memo->positionAt(1), memo->positionAt(1));
        memo->paste();
        editSave(f->path("out.txt"));
        QCOMPARE(WindowFixture::read(f->path("out.txt")), QByteArray("\xEF\xBB\xBF"
                                                                     "a\xEF\xBF\xBD"));
    }

    // Files removed, empty or binary: a clear message or an honest summary, never a
    // success text after a failure.
    void removedEmptyAndBinaryFiles()
    {
        const QString gone = f->write("gone.txt", "a@b\n");
        answer(gone);
        FExtraction->ui->Button10->click(); // the size step
        QFile::remove(gone);
        FExtraction->ui->Button7->click(); // the count step: the file has gone
        QCOMPARE(f->takeError(), QString("Fichier introuvable."));

        extract(f->write("empty.txt", ""));
        QVERIFY(f->errors.isEmpty());
        QVERIFY(logLines().last().startsWith("0 Records loaded in "));

        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary += char((i + 1) * 37 % 256);
        extract(f->write("binary.bin", binary));
        QCOMPARE(f->takeError(), QString("Aucun mappage pour le caractère Unicode n'existe dans "
                                         "la page de code multi-octet cible."));
        QVERIFY(logLines().last().contains(" Records loaded in "));

        editOpen(f->write("binary.bin", binary)); // the code page takes any byte
        QVERIFY(f->errors.isEmpty());
        QVERIFY(Fedittext->ui->Memo1->lineCount() > 1);
    }

    // A destination folder that does not exist, and a full device for the join: the
    // failure text and the message, never the success text, and no destination made.
    void joinFailures()
    {
        answer(f->write("a.bin", QByteArray(100000, 'a')));
        Fjointure->ui->Button1->click();
        Fjointure->ui->Edit1->setText(f->path("missing/joined.bin"));
        Fjointure->ui->Button2->click();
        QCOMPARE(Fjointure->ui->Edit5->text(), QString("Join failed, see the message."));
        QVERIFY(f->takeError().startsWith("Impossible de créer le fichier"));

        Fjointure->ui->Edit1->setText(f->path("joined.bin"));
        {
            FileSizeLimit limit(65536);
            Fjointure->ui->Button2->click();
        }
        QCOMPARE(Fjointure->ui->Edit5->text(), QString("Join failed, see the message."));
        QCOMPARE(f->takeError(), QString("Erreur d'écriture dans le flux."));
        QVERIFY(!QFile::exists(f->path("joined.bin")));
        QCOMPARE(QDir(f->dir.path()).entryList({".qv-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
