// The tools' jobs without any window: what each reports to its sink, in order, on small
// files: progress points, log lines, a stop, a failure mid-way.
#include "primitives/Errors.h"
#include "rules/Cutting.h"
#include "rules/Editing.h"
#include "rules/Extraction.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

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
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
