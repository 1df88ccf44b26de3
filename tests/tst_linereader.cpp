#include "primitives/Errors.h"
#include "primitives/LineReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Reads a file through a LineReader, collecting its lines and the error it ends with.
static QStringList readAll(const QString &path, QString *error = nullptr)
{
    QStringList lines;
    try {
        LineReader reader(path);
        while (!reader.EndOfStream())
            lines << reader.ReadLine();
    } catch (const QuorvaneError &e) {
        if (error)
            *error = e.message();
    }
    return lines;
}

static QByteArray utf16(const QString &text, bool little)
{
    QByteArray out(little ? "\xFF\xFE" : "\xFE\xFF");
    for (QChar c : text) {
        const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
        out += little ? lo : hi;
        out += little ? hi : lo;
    }
    return out;
}

class TestLineReader : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString write(const QByteArray &bytes)
    {
        static int n = 0;
        const QString path = m_dir.filePath(QString::number(++n));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

  private slots:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        const QByteArray block(4095, 'a');
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("crlf") << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("final crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("lone cr") << QByteArray("a\rb\nc") << QStringList{"a", "b", "c"};
        QTest::newRow("lf cr b") << QByteArray("\n\rb") << QStringList{"", "", "b"};
        QTest::newRow("two lf") << QByteArray("\n\n") << QStringList{"", ""};
        QTest::newRow("nul kept") << QByteArray("a\0b\n", 4)
                                  << QStringList{QString("a") + QChar(0) + "b"};
        QTest::newRow("utf8 bom only") << QByteArray("\xEF\xBB\xBF") << QStringList{""};
        QTest::newRow("utf16 bom only") << QByteArray("\xFF\xFE") << QStringList{""};
        QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBFh\xC3\xA9\r\nx")
                                  << QStringList{"hé", "x"};
        QTest::newRow("second bom kept")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFz") << QStringList{QString(QChar(0xFEFF)) + "z"};
        QTest::newRow("no bom utf8") << QByteArray("caf\xC3\xA9") << QStringList{"café"};
        QTest::newRow("utf16le") << utf16("hé\r\nx\ry", true) << QStringList{"hé", "x", "y"};
        QTest::newRow("utf16be") << utf16("hé\r\nx\ry", false) << QStringList{"hé", "x", "y"};
        QTest::newRow("utf16 odd tail") << utf16("ab", true) + "c" << QStringList{"ab"};
        QTest::newRow("utf16 lone surrogate") << utf16(QString(QChar(0xD800)) + "x", true)
                                              << QStringList{QString(QChar(0xD800)) + "x"};
        QTest::newRow("crlf split at 4096")
            << block + "\r\nb" << QStringList{QString(4095, 'a'), "b"};
        QTest::newRow("char split at 4096") << QByteArray(4095, 'a') + "\xE2\x82\xAC\n"
                                            << QStringList{QString(4095, 'a') + "€"};
        QTest::newRow("pair split at 4096")
            << QByteArray(4094, 'a') + "\xF0\x9F\x98\x80" << QStringList{QString(4094, 'a') + "😀"};
        QTest::newRow("utf16 crlf split")
            << utf16(QString(2046, 'a') + "\r\nb", true) << QStringList{QString(2046, 'a'), "b"};
        // Short lines over many blocks, a line going on past each block's end: the reader
        // drops what it returned from its queue now and then, its break marks with it.
        QByteArray many;
        QStringList manyLines;
        for (int i = 0; i < 30000; ++i) {
            manyLines << QString("line %1").arg(i).repeated(i % 3);
            // A lone CR only before a line that is not empty, so that no CR LF is made.
            const bool loneCr = i % 7 == 0 && (i + 1) % 3 != 0;
            many += manyLines.last().toLatin1() + (i % 5 == 0 ? "\r\n" : loneCr ? "\r" : "\n");
        }
        QTest::newRow("short lines over many blocks") << many << manyLines;
    }
    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QString error;
        QCOMPARE(readAll(write(bytes), &error), lines);
        QCOMPARE(error, QString());
        // Read in parts of at most maxChars, the same lines; no part cuts a surrogate pair.
        const QString path = write(bytes);
        for (const qsizetype maxChars : {1, 2, 3, 4093}) {
            LineReader reader(path);
            QStringList joined;
            while (!reader.EndOfStream()) {
                QString line;
                bool ended = false;
                while (!ended) {
                    const QStringView part = reader.ReadLinePart(maxChars, ended);
                    QVERIFY(part.size() <= qMax<qsizetype>(maxChars, 1));
                    if (!ended && maxChars > 1)
                        QVERIFY(!part.back().isHighSurrogate());
                    line += part;
                }
                joined << line;
            }
            QCOMPARE(joined, lines);
        }
    }

    // Ill-formed input fails with the encoding error once its block is reached; the lines
    // that end in earlier blocks are returned first.
    void encodingErrors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("linesBefore");
        QTest::newRow("stray continuation") << QByteArray("a\n\x80\n") << 0;
        QTest::newRow("truncated") << QByteArray("a\n\xE2\x82") << 0;
        QTest::newRow("truncated mid") << QByteArray("a\n\xE2\x82z\n") << 0;
        QTest::newRow("overlong") << QByteArray("\xC0\xAF\n") << 0;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80\n") << 0;
        QTest::newRow("above 10FFFF") << QByteArray("\xF4\x90\x80\x80") << 0;
        QTest::newRow("utf16 single byte") << QByteArray("\xFF\xFEx") << 0;
        QByteArray late;
        for (int i = 0; i < 2000; ++i)
            late += "line\n"; // 10000 bytes of ASCII lines
        late[4999] = '\xE9';
        // Lines ending within the first 4095 bytes: 819 lines of 5 bytes.
        QTest::newRow("E9 at byte 5000") << late << 819;
    }
    void encodingErrors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, linesBefore);
        QString error;
        QCOMPARE(readAll(write(bytes), &error).size(), linesBefore);
        QCOMPARE(error, Errors::encodingError().message());
    }

    void missingFileIsOpenError()
    {
        QString error;
        readAll(m_dir.filePath("missing.txt"), &error);
        QVERIFY(error.startsWith("Impossible d'ouvrir le fichier \"" +
                                 QDir::toNativeSeparators(m_dir.filePath("missing.txt")) + "\". "));
        QVERIFY(!error.endsWith('.'));
    }

    void holdsShareLockWhileOpen()
    {
        const QString path = write("x\n");
        LineReader reader(path);
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, FileStream(path, FileMode::CreateExclusive));
        LineReader second(path); // readers share
        reader.close();
        second.close();
        FileStream created(path, FileMode::CreateExclusive);
    }

    // A file that another program shortens during the read ends in the read error, not in
    // a shorter success.
    void shortenedSourceIsReadError()
    {
#ifdef Q_OS_WIN
        QSKIP("the reader's share mode keeps other programs from writing the file");
#endif
        QByteArray bytes;
        for (int i = 0; bytes.size() < (1 << 20); ++i)
            bytes += "line " + QByteArray::number(i) + "\n";
        const QString path = write(bytes);
        LineReader reader(path);
        QCOMPARE(reader.ReadLine(), QString("line 0"));
        QVERIFY(QFile::resize(path, 300000)); // locks do not stop a program that takes none
        qint64 lines = 1;
        QString error;
        try {
            while (!reader.EndOfStream()) {
                reader.ReadLineView();
                ++lines;
            }
        } catch (const QuorvaneError &e) {
            error = e.message();
        }
        QCOMPARE(error, QString("Erreur de lecture du flux"));
        QVERIFY(lines < 300000 / 7);
    }
};

QTEST_GUILESS_MAIN(TestLineReader)
#include "tst_linereader.moc"
