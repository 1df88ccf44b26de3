#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/TextFile.h"
#include "primitives/Windows1252.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

static QByteArray contents(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// A whole text file's decoded pieces, gathered.
static QString loadWhole(const QString &fileName, TextEncoding &recorded)
{
    QString whole;
    loadTextFile(fileName, recorded, [&](QStringView piece) { whole += piece; });
    return whole;
}

static QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

class TestPrimitives : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return path;
    }

  private slots:
    void createTruncatesAndLocks()
    {
        const QString path = write("big", QByteArray(1 << 20, 'x'));
        {
            FileStream created(path, FileMode::CreateExclusive);
            QCOMPARE(FileSizeOf(path), 0);
            // Another opener is refused while it is held, with the file's absolute name.
            try {
                FileStream reader(path, FileMode::OpenReadDenyWrite);
                QFAIL("open succeeded");
            } catch (const QuorvaneError &e) {
                QVERIFY(e.message().startsWith("Impossible d'ouvrir le fichier \"" +
                                               QDir::toNativeSeparators(path) + "\". "));
            }
            QVERIFY_THROWS_EXCEPTION(QuorvaneError, FileStream(path, FileMode::CreateExclusive));
            QVERIFY(FileExists(path)); // a locked file still exists
        }
        FileStream reader(path, FileMode::OpenReadDenyWrite);
        // A create refused by a reader's lock leaves the file as it was.
        write("kept", "keep");
        FileStream keptReader(m_dir.filePath("kept"), FileMode::OpenReadDenyWrite);
        QVERIFY_THROWS_EXCEPTION(QuorvaneError,
                                 FileStream(m_dir.filePath("kept"), FileMode::CreateExclusive));
        QCOMPARE(contents(m_dir.filePath("kept")), QByteArray("keep"));
    }

    void modeWords_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("opens");
        QTest::newRow("0x0020") << 0x0020 << true;
        QTest::newRow("0x0040 deny none") << 0x0040 << true;
        QTest::newRow("0x0002 read write") << 0x0002 << true;
        QTest::newRow("0x0003 bad access") << 0x0003 << false;
        QTest::newRow("0x0050 bad sharing") << 0x0050 << false;
        QTest::newRow("0x0024 stray bit") << 0x0024 << false;
    }
    void modeWords()
    {
        QFETCH(int, mode);
        QFETCH(bool, opens);
        const QString path = write("modes", "abc");
        bool opened = true;
        try {
            FileStream stream(path, quint16(mode));
        } catch (const QuorvaneError &) {
            opened = false;
        }
        QCOMPARE(opened, opens);
    }

    void createErrorNamesTheFile()
    {
        const QString path = m_dir.filePath("no/such/folder/x");
        try {
            FileStream s(path, FileMode::CreateExclusive);
            QFAIL("created");
        } catch (const QuorvaneError &e) {
            // The system's text, without its closing full stop.
            const QString prefix =
                "Impossible de créer le fichier \"" + QDir::toNativeSeparators(path) + "\". ";
            QVERIFY(e.message().startsWith(prefix));
            QVERIFY(e.message().size() > prefix.size() && !e.message().endsWith('.'));
#ifdef Q_OS_UNIX
            QCOMPARE(e.message(), prefix + "No such file or directory");
#endif
        }
    }

    void copyWholeSourceFromMiddle()
    {
        const QByteArray data = pattern(200000);
        FileStream source(write("src", data), FileMode::OpenReadDenyWrite);
        source.setPosition(100000);
        FileStream dest(m_dir.filePath("dst"), FileMode::CreateExclusive);
        dest.write("head", 4);
        QCOMPARE(CopyFrom(dest, source, 0), qint64(200000));
        dest.close();
        QCOMPARE(contents(m_dir.filePath("dst")), "head" + data);
    }

    void copyShortSourceWritesWholeChunksOnly()
    {
        FileStream source(write("short", pattern(100000)), FileMode::OpenReadDenyWrite);
        FileStream dest(m_dir.filePath("dst2"), FileMode::CreateExclusive);
        try {
            CopyFrom(dest, source, 150000);
            QFAIL("copied");
        } catch (const QuorvaneError &e) {
            QCOMPARE(e.message(), QString("Erreur de lecture du flux"));
        }
        dest.close();
        QCOMPARE(contents(m_dir.filePath("dst2")), pattern(100000).left(61440));
    }

    // Another program shortens the source during the copy inside the system: the part of a
    // chunk copied last is taken back, and the failure is the read error.
    void copySourceShrinkingMidCopy()
    {
#ifdef Q_OS_WIN
        QSKIP("no copy inside the system here, and the share mode keeps other writers out");
#endif
        const QString name = write("shrinks", pattern(4 * 61440));
        FileStream source(name, FileMode::OpenReadDenyWrite);
        FileStream dest(m_dir.filePath("dst3"), FileMode::CreateExclusive);
        BeforeCopyStepHook() = [&] {
            QFile other(name); // takes no lock, as most programs
            QVERIFY(other.resize(61440 + 1000));
        };
        QString error;
        try {
            CopyFrom(dest, source, 0);
        } catch (const QuorvaneError &e) {
            error = e.message();
        }
        BeforeCopyStepHook() = {};
        dest.close();
        QCOMPARE(error, QString("Erreur de lecture du flux"));
        QCOMPARE(contents(m_dir.filePath("dst3")), pattern(4 * 61440).left(61440));
    }

    void fileSizeAndExistence()
    {
        const QString file = write("f", "12345");
        QCOMPARE(FileSizeOf(file), qint64(5));
        QCOMPARE(FileSizeOf(write("empty", "")), qint64(0));
        QCOMPARE(FileSizeOf(m_dir.filePath("missing")), qint64(-1));
        QCOMPARE(FileSizeOf(QString()), qint64(-1));
        // A sparse file of 5 GiB.
        const QString big = m_dir.filePath("sparse");
        QFile sparse(big);
        sparse.open(QIODevice::WriteOnly);
        QVERIFY(sparse.resize(qint64(5) << 30));
        QCOMPARE(FileSizeOf(big), qint64(5) << 30);

        QVERIFY(FileExists(file));
        QVERIFY(!FileExists(m_dir.path()));
        QVERIFY(!FileExists(m_dir.filePath("missing")));
#ifdef Q_OS_UNIX // symbolic links (QFile::link makes shortcuts on Windows)
        QVERIFY(QFile::link(file, m_dir.filePath("link")));
        QVERIFY(FileExists(m_dir.filePath("link")));
        QVERIFY(QFile::link(m_dir.filePath("gone"), m_dir.filePath("dangling")));
        QVERIFY(!FileExists(m_dir.filePath("dangling")));
        QVERIFY(QFile::link(m_dir.path(), m_dir.filePath("dirlink")));
        QVERIFY(!FileExists(m_dir.filePath("dirlink")));
#endif
    }

    void loadDecodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("encoding");
        QTest::newRow("code page") << QByteArray("caf\xC3\xA9 \x80") << QString("cafÃ© €")
                                   << int(TextEncoding::SystemCodePage);
        QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBF"
                                                "caf\xC3\xA9")
                                  << QString("café") << int(TextEncoding::Utf8);
        QTest::newRow("utf16le odd") << QByteArray("\xFF\xFE"
                                                   "a\0b\0c",
                                                   7)
                                     << QString("ab") << int(TextEncoding::Utf16LE);
        QTest::newRow("utf16be") << QByteArray("\xFE\xFF\0a", 4) << QString("a")
                                 << int(TextEncoding::Utf16BE);
        QTest::newRow("late E9") << QByteArray(5000, 'a') + "\xE9" << QString(5000, 'a') + "é"
                                 << int(TextEncoding::SystemCodePage);
    }
    void loadDecodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(int, encoding);
        TextEncoding recorded = TextEncoding::None;
        QCOMPARE(loadWhole(write("load", bytes), recorded), text);
        QCOMPARE(int(recorded), encoding);
    }

    void failedLoadStillRecordsEncoding()
    {
        TextEncoding recorded = TextEncoding::None;
        QVERIFY_THROWS_EXCEPTION(QuorvaneError,
                                 loadWhole(write("bad", "\xEF\xBB\xBF\xFF"), recorded));
        QCOMPARE(recorded, TextEncoding::Utf8);
        recorded = TextEncoding::None;
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, loadWhole(write("one", "\xFF\xFEx"), recorded));
        QCOMPARE(recorded, TextEncoding::Utf16LE);
    }

    // Windows-1252 (the code page of the Linux platform layer, built on both systems): each
    // byte decodes to its character and back at every length (the vector loop and its
    // tail), a character outside it becomes '?', and Latin-1 text keeps what the code page
    // shares with Latin-1.
    void windows1252()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        const QString text = Windows1252::decode(all);
        QCOMPARE(text.size(), 256);
        for (int b = 0; b < 256; ++b)
            if (b < 0x80 || b >= 0xA0)
                QCOMPARE(text[b].unicode(), char16_t(b));
        QCOMPARE(text[0x80], QChar(0x20AC)); // €
        QCOMPARE(text[0x81], QChar(0x0081)); // unassigned: kept
        QCOMPARE(text[0x8A], QChar(0x0160)); // Š
        QCOMPARE(text[0x9F], QChar(0x0178)); // Ÿ
        for (int length = 0; length <= 256; length += length < 20 ? 1 : 37) {
            QByteArray back;
            Windows1252::append(back, QStringView(text).first(length));
            QCOMPARE(back, all.first(length));
        }
        QByteArray out("x");
        Windows1252::append(out, u"aĀ中€");
        QCOMPARE(out, QByteArray("xa??\x80"));
        out.clear();
        Windows1252::append(out, QLatin1StringView("\x80\x81\xE9"));
        QCOMPARE(out, QByteArray("?\x81\xE9")); // U+0080 is not in it, U+0081 is
        QVERIFY(Windows1252::decodesAsLatin1("caf\xE9 \xFF"));
        QVERIFY(!Windows1252::decodesAsLatin1("caf\xE9 \x9F"));
    }

    void saveRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("code page") << QByteArray("caf\xE9\r\n\x80");
        QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBF"
                                                "caf\xC3\xA9\r\nx");
        QTest::newRow("utf16le") << QByteArray("\xFF\xFE"
                                               "a\0\r\0\n\0",
                                               8);
        QTest::newRow("utf16be") << QByteArray("\xFE\xFF\0a\0\r\0\n", 8);
    }
    void saveRoundTrips()
    {
        QFETCH(QByteArray, bytes);
        TextEncoding recorded = TextEncoding::None;
        const QString text = loadWhole(write("rt", bytes), recorded);
        saveTextFile(m_dir.filePath("rt-out"), text, recorded);
        QCOMPARE(contents(m_dir.filePath("rt-out")), bytes);
    }

    void savePieces()
    {
        const QString path = m_dir.filePath("pieces");
        // Pieces: a surrogate pair split between two of them stays one character.
        const QString smile = QString::fromUtf8("😀");
        saveTextFile(path, TextEncoding::Utf8, [&](const TextWriter &write) {
            write(QStringView(smile).first(1));
            write(QStringView(smile).sliced(1));
            for (int i = 0; i < 300000; ++i) // more than one buffer
                write(u"abcd");
        });
        QCOMPARE(contents(path),
                 "\xEF\xBB\xBF\xF0\x9F\x98\x80" + QByteArray("abcd").repeated(300000));
        // Characters the code page lacks become a substitute.
        saveTextFile(path, u"x€ж\r\n", TextEncoding::None);
        QCOMPARE(contents(path), QByteArray("x\x80?\r\n"));
        saveTextFile(path, u"", TextEncoding::None);
        QCOMPARE(contents(path), QByteArray());
        // A lone surrogate, last or not, is written as the replacement character; Latin-1
        // pieces are encoded like the same UTF-16 ones.
        const QString lone = QString("a") + QChar(0xD800) + "b" + QChar(0xDC00);
        saveTextFile(path, TextEncoding::Utf8, [&](const TextWriter &write) {
            write(QStringView(lone).first(2));
            write(QStringView(lone).sliced(2));
            write(QLatin1StringView("\xE9\x80"));
            write(QStringView(lone).first(2));
        });
        QCOMPARE(contents(path), QByteArray("\xEF\xBB\xBF"
                                            "a\xEF\xBF\xBD"
                                            "b\xEF\xBF\xBD\xC3\xA9\xC2\x80"
                                            "a\xEF\xBF\xBD"));
        saveTextFile(path, TextEncoding::None,
                     [&](const TextWriter &write) { write(QLatin1StringView("\xE9\x80\x81x")); });
        QCOMPARE(contents(path), QByteArray("\xE9?\x81x"));
        saveTextFile(path, TextEncoding::Utf16BE,
                     [&](const TextWriter &write) { write(QLatin1StringView("\xE9")); });
        QCOMPARE(contents(path), QByteArray("\xFE\xFF\x00\xE9", 4));
    }

    // A save that cannot write everything leaves the file it replaces untouched.
    void failedSaveKeepsOldFile()
    {
        const QString path = write("precious", "old contents");
#ifdef Q_OS_UNIX // a write failure made with a file-size limit
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 1000;
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        QString error;
        try {
            saveTextFile(path, QString(5000, 'z'), TextEncoding::None);
        } catch (const QuorvaneError &e) {
            error = e.message();
        }
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(error, QString("Erreur d'écriture dans le flux"));
        QCOMPARE(contents(path), QByteArray("old contents"));
        QCOMPARE(QDir(m_dir.path()).entryList({"precious*"}, QDir::Files | QDir::Hidden),
                 QStringList{"precious"});
#endif

        // A file held by another opener cannot be replaced: the create error.
        FileStream holder(path, FileMode::OpenReadDenyWrite);
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, saveTextFile(path, u"new", TextEncoding::None));
        QCOMPARE(contents(path), QByteArray("old contents"));
    }
};

QTEST_GUILESS_MAIN(TestPrimitives)
#include "tst_primitives.moc"
