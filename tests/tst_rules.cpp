// The tools' jobs without any window: what each reports to its sink, in order, on small
// files: progress points, log lines, a stop, a failure mid-way.
#include "primitives/Errors.h"
#include "primitives/TextFile.h"
#include "rules/AddressList.h"
#include "rules/Cutting.h"
#include "rules/Editing.h"
#include "rules/ExternalSort.h"
#include "rules/Extraction.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <functional>
#include <thread>

namespace {

// Records every call of the extraction job.
struct Recorder : ExtractionSink
{
    QStringList lines, fields, pieces, logged;
    QList<std::pair<qint64, qint64>> points;
    std::optional<QString> total = QStringLiteral("2500");
    std::function<void()> atPoint;

    void line(QStringView line) override { lines << line.toString(); }
    void addressLine(QStringView field) override { fields << field.toString(); }
    void piece(QStringView piece) override { pieces << piece.toString(); }
    std::optional<QString> progressPoint(qint64 lines, qint64 bytes) override
    {
        points << std::pair(lines, bytes);
        if (atPoint)
            atPoint();
        return total;
    }
    void log(const QString &line) override { logged << line; }
};

QByteArray numbered(int count, const char *suffix)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i)
        bytes += "line" + QByteArray::number(i) + suffix + "\n";
    return bytes;
}

} // namespace

class TestRules : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

  private slots:
    void extractionReportsInOrder()
    {
        const QString file = write("scan.txt", "a@b c \"x y@z\"\nplain\n" + numbered(2498, ""));
        ExtractionJob job;
        Recorder sink;
        job.scan(file, sink);
        QCOMPARE(sink.lines.size(), 2500);
        QCOMPARE(sink.lines.first(), QString("a@b c \"x y@z\""));
        QCOMPARE(sink.fields, QStringList{"a@b c \"x y@z\""});
        QCOMPARE(sink.pieces, (QStringList{"a@b", "x y@z"}));
        QCOMPARE(sink.points.size(), 2);
        QCOMPARE(sink.points[0].first, 1000);
        QCOMPARE(sink.points[1].first, 2000);
        QVERIFY(sink.points[0].second > 0 && sink.points[1].second > sink.points[0].second);
        QCOMPARE(sink.logged.size(), 3);
        QCOMPARE(sink.logged[0], QString("Lines Done : 1000 / 2500 Percentage  :40.0%"));
        QCOMPARE(sink.logged[1], QString("Lines Done : 2000 / 2500 Percentage  :80.0%"));
        QVERIFY(sink.logged[2].startsWith("2500 Records loaded in "));
        QCOMPARE(job.ExtractionLineCount, 2500);
        QCOMPARE(job.ExtractionFileName, file);
        QVERIFY(!job.ExtractionLineReader);
    }

    // A total of 0 gives progress lines without a percentage; no total, no progress lines.
    void extractionProgressTotals()
    {
        const QString file = write("points.txt", numbered(1000, "@x"));
        ExtractionJob job;
        Recorder sink;
        sink.total = QStringLiteral("0");
        job.scan(file, sink);
        QCOMPARE(sink.logged.first(), QString("Lines Done : 1000 / 0"));
        Recorder quiet;
        quiet.total.reset();
        job.scan(file, quiet);
        QCOMPARE(quiet.logged.size(), 1); // the summary alone
        QCOMPARE(quiet.pieces.size(), 1000);
    }

    // Stop at a progress point: the point's line is written, then the scan ends.
    void extractionStops()
    {
        const QString file = write("stop.txt", numbered(2500, "@x"));
        ExtractionJob job;
        Recorder sink;
        sink.atPoint = [&] { job.ExtractionRunning = false; };
        job.scan(file, sink);
        QCOMPARE(job.ExtractionLineCount, 1000);
        QCOMPARE(sink.pieces.size(), 1000);
        QCOMPARE(sink.logged.size(), 2);
        QVERIFY(sink.logged[1].startsWith("1000 Records loaded in "));
    }

    // A failure mid-way: the summary first, then the failure; what was found stays.
    // A file another program shortens during the count pass: the read error, as the scan
    // gives, not a short count.
    void countOfShortenedFile()
    {
#ifdef Q_OS_WIN
        QSKIP("the count's share mode keeps other programs from writing the file");
#endif
        const QString name = m_dir.filePath("shrinks");
        {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(4) << 30)); // takes no room; reading it takes a while
        }
        std::thread other([&] {
            QThread::msleep(5);
            QFile(name).resize(1 << 20); // takes no lock, as most programs
        });
        QString error;
        try {
            CountLines(name);
        } catch (const QuorvaneError &e) {
            error = e.message();
        }
        other.join();
        QFile::remove(name);
        QCOMPARE(error, QString("Erreur de lecture du flux"));
    }

    void extractionFailsMidway()
    {
        const QString file = write("bad.txt", numbered(5000, "@x") + "\xFF\n");
        ExtractionJob job;
        Recorder sink;
        QString error;
        try {
            job.scan(file, sink);
        } catch (const QuorvaneError &e) {
            error = e.message();
            QVERIFY(sink.logged.last().contains(" Records loaded in "));
        }
        QCOMPARE(error, QString("Aucun mappage pour le caractère Unicode n'existe dans la page "
                                "de code multi-octet cible"));
        QVERIFY(sink.pieces.size() >= 4000);
        QVERIFY(!job.ExtractionLineReader);
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, job.scan(m_dir.filePath("absent"), sink));
    }

    void extractionReports()
    {
        const QString file = write("report.txt", "a\nb");
        QCOMPARE(ExtractionJob::sizeReport(file), QString("File Size : 3 Bytes "));
        const auto [count, line] = ExtractionJob::countPass(file);
        QCOMPARE(count, 2);
        QVERIFY(line.startsWith("Lines read = 2\r elapsed time = "));
    }

    // Start's lines decorated; the prefix and suffix a progress point gives apply from the
    // next line on; a stop there ends the run.
    void editDecoratesAndStops()
    {
        const QString file = write("edit.txt", numbered(2500, ""));
        struct Lines : EditSink
        {
            QStringList lines;
            EditJob *job = nullptr;
            void line(QStringView decorated) override { lines << decorated.toString(); }
            void progressPoint(QString &prefix, QString &suffix) override
            {
                prefix = QStringLiteral("[");
                suffix = QStringLiteral("]");
                if (lines.size() == 2000)
                    job->EditRunning = false;
            }
        } sink;
        EditJob job;
        sink.job = &job;
        job.EditRunning = true;
        job.start(file, "<", ">", sink);
        QCOMPARE(job.EditLineCount, 2000);
        QCOMPARE(sink.lines.size(), 2000);
        QCOMPARE(sink.lines[999], QString("<line1000>"));
        QCOMPARE(sink.lines[1000], QString("[line1001]"));
        QVERIFY(!job.EditLineReader);
        job.EditRunning = false; // not running: nothing is read
        sink.lines.clear();
        job.start(file, "<", ">", sink);
        QCOMPARE(sink.lines, QStringList());
    }

    void cutPlansAndCuts()
    {
        const QString file = write("source.data.txt", QByteArray(5 * 1024 + 10, 'c'));
        CutJob job;
        const auto [nameField, kib] = job.select(file);
        QCOMPARE(nameField, QString("source.da"));
        QCOMPARE(kib, 5);
        QCOMPARE(job.SourceExtension, QString(".txt"));
        QCOMPARE(CutJob::pieceKib(kib, 2), 2);
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, CutJob::pieceKib(kib, 0));
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, job.plan(nameField, CutJob::MaxPieces + 1, {}));
        job.plan(m_dir.filePath(nameField), 2, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        QCOMPARE(job.PieceNames.first(), m_dir.filePath("source.da_1_202612_345.txt"));
        job.CutFileIntoPieces(file, 2 * 1024);
        QCOMPARE(QFileInfo(job.PieceNames[0]).size(), 2048);
        QCOMPARE(QFileInfo(job.PieceNames[1]).size(), 3 * 1024 + 10); // the rest
    }

    void validAddresses_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<bool>("valid");
        const QString local64(64, u'a'), label63(63, u'b');
        QTest::newRow("plain") << "john.doe@example.com" << true;
        QTest::newRow("every atext sign") << "a!#$%&'*+-/=?^_`{|}~z@x.org" << true;
        QTest::newRow("subdomains, digits, hyphen") << "u@mail-1.a2.example.co" << true;
        QTest::newRow("international") << QString("élodie@café.fr") << true;
        QTest::newRow("letter outside the BMP") << QString("a@x.\U0001D4B6\U0001D4B7") << true;
        QTest::newRow("64-character local part") << local64 + "@x.com" << true;
        QTest::newRow("65-character local part") << local64 + "a@x.com" << false;
        QTest::newRow("63-character label") << "a@" + label63 + ".com" << true;
        QTest::newRow("64-character label") << "a@" + label63 + "b.com" << false;
        QTest::newRow("254 in all")
            << local64 + "@" + QString(58, u'c') + "." + label63 + "." + label63 + ".de" << true;
        QTest::newRow("255 in all")
            << local64 + "@" + QString(59, u'c') + "." + label63 + "." + label63 + ".de" << false;
        QTest::newRow("@ alone") << "@" << false;
        QTest::newRow("no domain") << "x@" << false;
        QTest::newRow("no local part") << "@y.com" << false;
        QTest::newRow("two @") << "a@b@c.com" << false;
        QTest::newRow("no dot in domain") << "a@localhost" << false;
        QTest::newRow("leading dot") << ".a@x.com" << false;
        QTest::newRow("trailing dot") << "a.@x.com" << false;
        QTest::newRow("double dot") << "a..b@x.com" << false;
        QTest::newRow("empty label") << "a@x..com" << false;
        QTest::newRow("hyphen first in label") << "a@-x.com" << false;
        QTest::newRow("hyphen last in label") << "a@x-.com" << false;
        QTest::newRow("one-letter last label") << "a@x.c" << false;
        QTest::newRow("digit in last label") << "a@x.c0m" << false;
        QTest::newRow("quote in local part") << "\"a\"@x.com" << false;
        QTest::newRow("comma") << "a,b@x.com" << false;
        QTest::newRow("underscore in domain") << "a@x_y.com" << false;
        QTest::newRow("sign that is no letter") << QString("€@x.com") << false;
        QTest::newRow("lone surrogate") << QString("a") + QChar(0xD800) + "@x.com" << false;
    }
    void validAddresses()
    {
        QFETCH(QString, piece);
        QFETCH(bool, valid);
        QCOMPARE(IsValidAddress(piece), valid);
    }

    // The external sort against std::stable_sort on random records, with runs small enough
    // to spill many times.
    void externalSortAgainstReference_data()
    {
        QTest::addColumn<bool>("byNumber");
        QTest::addColumn<int>("count");
        QTest::addColumn<qsizetype>("runBytes");
        QTest::newRow("bytes, in memory") << false << 3000 << qsizetype(1 << 20);
        QTest::newRow("bytes, 40 runs") << false << 3000 << qsizetype(4096);
        QTest::newRow("numbers, 40 runs") << true << 3000 << qsizetype(4096);
        QTest::newRow("a run per record") << false << 50 << qsizetype(1);
        QTest::newRow("nothing") << false << 0 << qsizetype(4096);
    }
    void externalSortAgainstReference()
    {
        QFETCH(bool, byNumber);
        QFETCH(int, count);
        QFETCH(qsizetype, runBytes);
        QRandomGenerator random(count);
        using Record = std::pair<QByteArray, quint64>;
        std::vector<Record> records;
        ExternalSorter sorter(byNumber ? ExternalSorter::Order::Number
                                       : ExternalSorter::Order::BytesThenNumber,
                              false, runBytes);
        for (int i = 0; i < count; ++i) {
            // Short keys over few values (prefixes of each other, equal ones, bytes >= 0x80)
            // and long ones that differ after their first 8 bytes.
            QByteArray key(random.bounded(random.bounded(2) ? 4 : 20), 'p');
            for (char &c : key)
                c = "ab\x80\xff"[random.bounded(4)];
            const quint64 number = random.bounded(1000);
            records.emplace_back(key, number);
            sorter.add(key, number);
        }
        std::stable_sort(records.begin(), records.end(), [&](const Record &a, const Record &b) {
            return byNumber ? a.second < b.second : a < b;
        });
        std::vector<Record> sorted;
        sorter.finish([&](QByteArrayView bytes, quint64 number) {
            sorted.emplace_back(bytes.toByteArray(), number);
        });
        QCOMPARE(sorted.size(), records.size());
        for (size_t i = 0; i < sorted.size(); ++i) {
            if (byNumber)
                QCOMPARE(sorted[i].second, records[i].second); // equal numbers in any order
            else
                QCOMPARE(sorted[i], records[i]);
        }
    }

    // Unique (ignoring case or not), Sorted and Valid only on a list, in memory and with many
    // spilled runs, against the same choices made by hand.
    void addressChoices_data()
    {
        QTest::addColumn<bool>("unique");
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<bool>("validOnly");
        QTest::addColumn<bool>("ignoreCase");
        QTest::addColumn<qsizetype>("runBytes");
        for (const qsizetype runBytes : {qsizetype(64 << 20), qsizetype(256)})
            for (int choice = 0; choice < 16; ++choice)
                if (!(choice & 8) || (choice & 1)) // ignoring case only with unique
                    QTest::addRow("%s%s%s%s, runs of %lld", choice & 1 ? "unique " : "",
                                  choice & 8 ? "ignoring case " : "", choice & 2 ? "sorted " : "",
                                  choice & 4 ? "valid " : "", qlonglong(runBytes))
                        << bool(choice & 1) << bool(choice & 2) << bool(choice & 4)
                        << bool(choice & 8) << runBytes;
    }
    void addressChoices()
    {
        QFETCH(bool, unique);
        QFETCH(bool, sorted);
        QFETCH(bool, validOnly);
        QFETCH(bool, ignoreCase);
        QFETCH(qsizetype, runBytes);
        const QStringList pool = {
            "b@x.com", "a@x.com", "B@x.com", "@",      "x@",       "@y",
            "é@x.fr",  "€@x.com", "z@y.org", "a@x.co", "a@x.com.", "œ@x.fr",
            "A@X.COM", "É@x.fr",  "Œ@X.fr",  "_@x.com"}; // € is 0x80, œ 0x9C and Œ 0x8C in the code
                                                         // page
        QStringList list;
        QRandomGenerator random(7);
        for (int i = 0; i < 400; ++i)
            list << pool[random.bounded(int(pool.size()))];
        // Pieces count once by their bytes, or by the lower case of their letters.
        auto keyOf = [&](const QString &piece) { return ignoreCase ? piece.toLower() : piece; };
        QStringList expected, keys;
        for (const QString &piece : std::as_const(list))
            if ((!validOnly || IsValidAddress(piece)) &&
                (!unique || !keys.contains(keyOf(piece)))) {
                expected << piece;
                keys << keyOf(piece);
            }
        auto encoded = [](const QString &piece) {
            QByteArray bytes;
            appendSystemCodePage(bytes, piece);
            return bytes;
        };
        if (sorted)
            std::stable_sort(expected.begin(), expected.end(),
                             [&](const QString &a, const QString &b) {
                                 return encoded(keyOf(a)) < encoded(keyOf(b));
                             });
        QByteArray saved;
        qint64 written = -1;
        writeText([&](const char *data, qint64 size) { saved.append(data, size); },
                  TextEncoding::None,
                  [&](const TextWriter &write) {
                      AddressListWriter addresses({unique, sorted, validOnly, ignoreCase}, write,
                                                  runBytes);
                      for (const QString &piece : std::as_const(list))
                          addresses.add(piece);
                      written = addresses.finish();
                  });
        QByteArray wanted;
        for (const QString &piece : std::as_const(expected))
            wanted += encoded(piece) + "\r\n";
        QCOMPARE(saved, wanted);
        QCOMPARE(written, qint64(expected.size()));
    }

    // Letter case folded one character to one (simple folding), outside the BMP too.
    void caseFolding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::newRow("ASCII") << "John.Doe@Example.COM"
                               << "john.doe@example.com";
        QTest::newRow("accented") << QString("ÉLODIE@CAFÉ.FR") << QString("élodie@café.fr");
        QTest::newRow("Deseret, outside the BMP")
            << QString("\U00010400@x.org") << QString("\U00010428@x.org");
        QTest::newRow("sharp s stays one letter") << QString("STRAẞE") << QString("straße");
        QTest::newRow("final sigma and Kelvin sign") << QString("ΟΔΟΣς\u212A") << QString("οδοσσk");
        QTest::newRow("lone surrogate kept")
            << QString(QChar(0xD801)) + "A" << QString(QChar(0xD801)) + "a";
    }
    void caseFolding()
    {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QCOMPARE(foldedCase(text), folded);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
