// The safe save that the windows and the command line share, tried as a careless user and a
// hostile system would: devices, pipes, links, the input itself, other owners, too many open
// files, a full device. Each case asserts what is on disk afterwards.
#include "ResourceLimit.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/LineReader.h"
#include "primitives/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeAll(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

struct stat statOf(const QString &name, bool follow = false)
{
    struct stat st = {};
    const QByteArray native = QFile::encodeName(name);
    if ((follow ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st)) != 0)
        st.st_mode = 0;
    return st;
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".qv-*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
}

// The saves the tools make: the decorated lines of an input read while the output is made
// (the command line's edit), or a text from memory (the windows).
void saveDecorated(const QString &target, const QString &input)
{
    saveTextFile(target, TextEncoding::None,
                 [&](const TextWriter &write) {
                     LineReader reader(input);
                     while (!reader.EndOfStream()) {
                         write(QLatin1StringView("<"));
                         write(reader.ReadLineView());
                         write(QLatin1StringView(">\r\n"));
                     }
                 },
                 {input});
}

using Setup = std::function<void(const QString &dir)>;
using Check = std::function<void(const QString &dir)>;

} // namespace

class TestSave : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    const bool m_root = ::geteuid() == 0;

    QString path(const QString &name) const { return m_dir.filePath(name); }

  private slots:
    void initTestCase()
    {
        IgnoreFileSizeLimitSignal();
        QVERIFY(m_dir.isValid());
    }
    void init()
    {
        for (const QString &name :
             QDir(m_dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            QFile::remove(path(name));
        writeAll(path("in.txt"), "a@b c\nx\n");
    }

    // Each row: what is there before, the name saved to, the error expected (empty when the
    // save succeeds), and what must hold afterwards. The saved text is the input decorated.
    void save_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("error");
        QTest::addColumn<Check>("check");
        const QByteArray input = "a@b c\nx\n";
        const QByteArray decorated = "<a@b c>\r\n<x>\r\n";

        QTest::newRow("a link to a device is written, the device stays")
            << Setup([](const QString &d) { QFile::link("/dev/null", d + "/nul"); }) << "nul"
            << QString() << Check([](const QString &d) {
                   QVERIFY(S_ISLNK(statOf(d + "/nul").st_mode));
                   QVERIFY(S_ISCHR(statOf("/dev/null").st_mode));
               });
        QTest::newRow("a pipe without a reader is refused, not replaced")
            << Setup([](const QString &d) {
                   ::mkfifo(QFile::encodeName(d + "/ff").constData(), 0644);
               })
            << "ff"
            << QString("Impossible de créer le fichier \"%1/ff\". No such device or address.")
            << Check([](const QString &d) { QVERIFY(S_ISFIFO(statOf(d + "/ff").st_mode)); });
        QTest::newRow("a folder is refused")
            << Setup([](const QString &d) { QDir(d).mkdir("sub"); }) << "sub"
            << QString("Impossible de créer le fichier \"%1/sub\". Is a directory.")
            << Check([](const QString &d) { QVERIFY(S_ISDIR(statOf(d + "/sub").st_mode)); });
        QTest::newRow("the input itself")
            << Setup() << "in.txt" << QString()
            << Check([=](const QString &d) { QCOMPARE(readAll(d + "/in.txt"), decorated); });
        QTest::newRow("a hard link of the input: both names show the new text")
            << Setup([](const QString &d) {
                   ::link(QFile::encodeName(d + "/in.txt").constData(),
                          QFile::encodeName(d + "/h.txt").constData());
               })
            << "h.txt" << QString() << Check([=](const QString &d) {
                   QCOMPARE(readAll(d + "/h.txt"), decorated);
                   QCOMPARE(readAll(d + "/in.txt"), decorated);
                   QCOMPARE(statOf(d + "/in.txt").st_ino, statOf(d + "/h.txt").st_ino);
               });
        QTest::newRow("a link to a new file: the file is made, the link stays")
            << Setup([](const QString &d) { QFile::link(d + "/made.txt", d + "/lnk"); }) << "lnk"
            << QString() << Check([=](const QString &d) {
                   QVERIFY(S_ISLNK(statOf(d + "/lnk").st_mode));
                   QCOMPARE(readAll(d + "/made.txt"), decorated);
                   QCOMPARE(statOf(d + "/made.txt").st_mode & 0777, 0666u & ~0022u);
               });
        QTest::newRow("mode and extended attributes are kept") << Setup([](const QString &d) {
            writeAll(d + "/out", "old");
            ::chmod(QFile::encodeName(d + "/out").constData(), 0640);
            ::setxattr(QFile::encodeName(d + "/out").constData(), "user.origin", "1", 1, 0);
        }) << "out" << QString() << Check([=](const QString &d) {
            QCOMPARE(readAll(d + "/out"), decorated);
            QCOMPARE(statOf(d + "/out").st_mode & 07777, 0640u);
            char value[8] = {};
            const ssize_t n = ::getxattr(QFile::encodeName(d + "/out").constData(), "user.origin",
                                         value, sizeof value);
            if (n < 0 && errno == ENOTSUP)
                QSKIP("no extended attributes in this folder");
            QCOMPARE(QByteArray(value, int(n)), QByteArray("1"));
        });
        QTest::newRow("a file held by another opener")
            << Setup([](const QString &d) { writeAll(d + "/held", "old"); }) << "held"
            << QString("HELD")
            << Check([](const QString &d) { QCOMPARE(readAll(d + "/held"), QByteArray("old")); });
        Q_UNUSED(input);
    }
    void save()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, target);
        QFETCH(QString, error);
        QFETCH(Check, check);
        if (setup)
            setup(m_dir.path());
        std::unique_ptr<FileStream> holder;
        if (error == u"HELD") {
            holder = std::make_unique<FileStream>(path(target), FileMode::CreateExclusive, false);
            error = QStringLiteral("Impossible de créer le fichier \"%1\". The process cannot "
                                   "access the file because it is being used by another process.")
                        .arg(path(target));
        }
        QString caught;
        try {
            saveDecorated(path(target), path("in.txt"));
        } catch (const QuorvaneError &e) {
            caught = Errors::withFullStop(e.message());
        }
        QCOMPARE(caught, error.contains(u"%1") ? error.arg(m_dir.path()) : error);
        QCOMPARE(leftovers(m_dir.path()), QStringList());
        check(m_dir.path());
    }

    // Another user's file, set-user-id, with an attribute: saved by root, it stays that
    // user's, with its bits and its attribute.
    void ownerKept()
    {
        if (!m_root)
            QSKIP("changing a file's owner takes root");
        const QString out = path("out");
        writeAll(out, "old");
        QVERIFY(::chown(QFile::encodeName(out).constData(), 1234, 1234) == 0);
        QVERIFY(::chmod(QFile::encodeName(out).constData(), 04755) == 0);
        saveDecorated(out, path("in.txt"));
        const struct stat st = statOf(out);
        QCOMPARE(st.st_uid, 1234u);
        QCOMPARE(st.st_gid, 1234u);
        QCOMPARE(st.st_mode & 07777, 04755u);
        QCOMPARE(readAll(out), QByteArray("<a@b c>\r\n<x>\r\n"));
    }

    // No temporary can be made (too many open files): the create error, the target as it was.
    void noTemporaryLeavesTargetAlone()
    {
        const QString out = path("out.txt");
        writeAll(out, "old");
        const int next = ::dup(0);
        ::close(next);
        {
            const ResourceLimit files(RLIMIT_NOFILE,
                                      rlim_t(next + 1)); // the target's open takes the last
            try {
                saveTextFile(out, QStringView(u"new"), TextEncoding::Utf8);
                QFAIL("saved without a temporary");
            } catch (const QuorvaneError &e) {
                QCOMPARE(
                    e.message(),
                    QString("Impossible de créer le fichier \"%1\". Too many open files").arg(out));
            }
        }
        QCOMPARE(readAll(out), QByteArray("old"));
        QCOMPARE(leftovers(m_dir.path()), QStringList());
    }

    // A full device (the file size limit) under a link to a file not yet there: the write
    // error, no file made, the link's own name kept.
    void fullDeviceBehindLink()
    {
        QVERIFY(QFile::link(path("new.txt"), path("lnk")));
        writeAll(path("old.txt"), "old text");
        {
            const ResourceLimit size(RLIMIT_FSIZE, 4);
            for (const QString &name : {QStringLiteral("lnk"), QStringLiteral("old.txt")}) {
                try {
                    saveTextFile(path(name), QStringView(u"longer than four bytes"),
                                 TextEncoding::None);
                    QFAIL("saved past the limit");
                } catch (const QuorvaneError &e) {
                    QCOMPARE(e.message(), QString("Erreur d'écriture dans le flux"));
                }
            }
        }
        QVERIFY(S_ISLNK(statOf(path("lnk")).st_mode));
        QCOMPARE(statOf(path("new.txt")).st_mode, mode_t(0));
        QCOMPARE(readAll(path("old.txt")), QByteArray("old text"));
        QCOMPARE(leftovers(m_dir.path()), QStringList());
    }

    // A hard-linked target is written in place from a complete copy made first: a full
    // device leaves the old text whole.
    void inPlaceFailureKeepsOldText()
    {
        const QString out = path("linked.txt");
        writeAll(out, "old");
        QVERIFY(::link(QFile::encodeName(out).constData(),
                       QFile::encodeName(path("other.txt")).constData()) == 0);
        QByteArray longText(8192, 'n');
        {
            const ResourceLimit size(RLIMIT_FSIZE, 4096);
            QVERIFY_THROWS_EXCEPTION(QuorvaneError, saveTextFile(out, QString::fromLatin1(longText),
                                                                 TextEncoding::None));
        }
        QCOMPARE(readAll(out), QByteArray("old"));
        QCOMPARE(readAll(path("other.txt")), QByteArray("old"));
    }

    // Where the file system makes no nameless files, the temporary is named: the same
    // results, and nothing left beside the target after a failure.
    void namedTemporaries()
    {
        NamedTemporariesOnly() = true;
        const QString out = path("out.txt");
        saveDecorated(out, path("in.txt"));
        QCOMPARE(statOf(out).st_mode & 0777, 0666u & ~0022u);
        writeAll(out, "old");
        saveDecorated(out, path("in.txt"));
        QCOMPARE(readAll(out), QByteArray("<a@b c>\r\n<x>\r\n"));
        {
            const ResourceLimit size(RLIMIT_FSIZE, 4);
            QVERIFY_THROWS_EXCEPTION(QuorvaneError, saveDecorated(out, path("in.txt")));
        }
        NamedTemporariesOnly() = false;
        QCOMPARE(readAll(out), QByteArray("<a@b c>\r\n<x>\r\n"));
        QCOMPARE(leftovers(m_dir.path()), QStringList());
    }

    // A target whose full name is near the system's limit: its temporary is named relative to
    // its folder, so only each name's own limit applies.
    void targetNearPathLimit()
    {
        QString folder = m_dir.path();
        const QString part(250, 'd');
        while (folder.size() + 1 + part.size() + 1 + 2 < 4092)
            folder += '/' + part;
        folder += '/' + QString(4092 - folder.size() - 1 - 2, 'e');
        QVERIFY(QDir().mkpath(folder));
        const QString target = folder + "/t";
        QCOMPARE(target.size(), 4092);
        saveTextFile(target, QStringView(u"new"), TextEncoding::None);
        saveTextFile(target, QStringView(u"newer"), TextEncoding::None);
        QCOMPARE(readAll(target), QByteArray("newer"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"t"});
        QDir(m_dir.path() + '/' + part).removeRecursively();
    }

    // A new file in a folder with a default ACL gets the mode and ACL a shell redirection
    // gives it: created 0666, the system applying the ACL (a named user keeps the write right).
    void newFileTakesDefaultAcl()
    {
        const QString folder = path("acl");
        QVERIFY(QDir().mkdir(folder));
        // user::rw- user:1234:rw- group::r-- mask::rw- other::r--, as the kernel stores it.
        struct Entry
        {
            quint16 tag, perm;
            quint32 id;
        };
        const Entry entries[] = {
            {0x01, 6, ~0u}, {0x02, 6, 1234}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 4, ~0u}};
        QByteArray acl("\x02\0\0\0", 4);
        for (const Entry &e : entries)
            acl.append(reinterpret_cast<const char *>(&e), sizeof e);
        if (::setxattr(QFile::encodeName(folder).constData(), "system.posix_acl_default",
                       acl.constData(), size_t(acl.size()), 0) != 0)
            QSKIP("no POSIX ACLs in this folder");
        const int fd = ::open(QFile::encodeName(folder + "/redirected").constData(),
                              O_WRONLY | O_CREAT | O_EXCL, 0666);
        QVERIFY(fd >= 0);
        ::close(fd);
        saveTextFile(folder + "/saved", QStringView(u"new"), TextEncoding::None);
        auto aclOf = [](const QString &name) {
            char value[256];
            const ssize_t n = ::getxattr(QFile::encodeName(name).constData(),
                                         "system.posix_acl_access", value, sizeof value);
            return QByteArray(value, int(qMax<ssize_t>(n, 0)));
        };
        QCOMPARE(statOf(folder + "/saved").st_mode, statOf(folder + "/redirected").st_mode);
        QCOMPARE(aclOf(folder + "/saved"), aclOf(folder + "/redirected"));
        QVERIFY(!aclOf(folder + "/saved").isEmpty());
    }

    // Names that are not UTF-8 make the round trip through the program's strings.
    void byteNames()
    {
        const QByteArray raw = QFile::encodeName(m_dir.path()) + "/n\xE9\xFF.txt";
        const QString name = FileNameFromNative(raw);
        QCOMPARE(NativeFileName(name), raw);
        saveTextFile(name, QStringView(u"text"), TextEncoding::None);
        struct stat st;
        QCOMPARE(::stat(raw.constData(), &st), 0);
        QCOMPARE(FileSizeOf(name), 4);
        QCOMPARE(::unlink(raw.constData()), 0);
        QCOMPARE(FileNameFromNative("plain \xC3\xA9"), QString::fromUtf8("plain \xC3\xA9"));
    }
};

QTEST_GUILESS_MAIN(TestSave)
#include "tst_save.moc"
