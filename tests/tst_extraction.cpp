#include "FileChange.h"
#include "WindowTest.h"
#include "Wine.h"
#include "primitives/Clock.h"
#include "primitives/FileStream.h"
#include "primitives/Numbers.h"
#include "ui_FExtraction.h"

#include <QAccessible>
#include <QCheckBox>
#include <QGlyphRun>
#include <QScrollBar>
#include <QSet>
#include <QTextLayout>

static QStringList logLines()
{
    return extractionLog(FExtraction->ui->Memo2->text());
}

static QByteArray numberedLines(int count, const char *suffix = "")
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i)
        bytes += "line" + QByteArray::number(i) + suffix + "\n";
    return bytes;
}

class TestExtraction : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

    void open(const QString &fileName)
    {
        answer(fileName);
        FExtraction->ui->Button4->click();
    }

  private slots:
    void init()
    {
        f = std::make_unique<WindowFixture>();
        Numbers::setDecimalSeparator(u'.');
    }
    void cleanup() { f.reset(); }

    void lineCount_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("count");
        QTest::newRow("empty") << QByteArray() << qint64(0);
        QTest::newRow("a LF b LF") << QByteArray("a\nb\n") << qint64(2);
        QTest::newRow("a LF b") << QByteArray("a\nb") << qint64(2);
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << qint64(2);
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << qint64(1);
        QTest::newRow("LF") << QByteArray("\n") << qint64(1);
        QTest::newRow("LF LF") << QByteArray("\n\n") << qint64(2);
        QTest::newRow("^Z at line start") << QByteArray("a\n\x1A"
                                                        "b\n")
                                          << qint64(1);
        QTest::newRow("^Z mid line") << QByteArray("a\x1A"
                                                   "b\n")
                                     << qint64(2);
        QTest::newRow("^Z first") << QByteArray("\x1A"
                                                "a\n")
                                  << qint64(0);
        QTest::newRow("BOM is bytes") << QByteArray("\xEF\xBB\xBF") << qint64(1);
        QByteArray big(300000, 'x');
        big[150000] = '\n';
        big[128513] = '\x1A';
        QTest::newRow("across buffers") << big << qint64(3);
    }
    void lineCount()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, count);
        QCOMPARE(CountLines(f->write("count.txt", bytes)), count);
    }

    void countFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing.txt"
                                 << "Fichier introuvable";
        QTest::newRow("too long") << QString(300, 'n') << "Nom de fichier non valide";
        QTest::newRow("directory") << "."
                                   << "Accès au fichier refusé";
    }
    void countFailures()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        try {
            CountLines(f->path(name));
            QFAIL("counted");
        } catch (const QuorvaneError &e) {
            if (runningUnderWine())
                QEXPECT_FAIL("too long",
                             "Wine answers ERROR_FILE_NOT_FOUND for a name of over "
                             "255 characters, Windows ERROR_FILENAME_EXCED_RANGE",
                             Continue);
            QCOMPARE(e.message(), message);
        }
    }

    void countOfFileHeldForWriting()
    {
        const QString path = f->write("held.txt", "a\n");
        FileStream writer(path, FileMode::CreateExclusive);
        try {
            CountLines(path);
            QFAIL("counted");
        } catch (const QuorvaneError &e) {
            QCOMPARE(e.message(), QString("Erreur E/S 32"));
        }
    }

    // The count pass times the count alone: the clock is read after the file is opened
    // (a file that cannot be opened reads it never) and before it is closed.
    void countTimesWhileTheFileIsOpen()
    {
        const QString path = f->write("timed.txt", "a\nb\n");
        int reads = 0;
        bool openAtEachRead = true;
        Clock::setNow([&] {
            ++reads;
            int code = 0;
            FileStream writer(path, FileMode::CreateExclusive, code); // refused while open
            openAtEachRead = openAtEachRead && !writer.isOpen();
            return QDateTime(QDate(2026, 1, 1), QTime(12, 0).addSecs(reads * 864));
        });
        open(f->path("missing.txt"));
        QCOMPARE(reads, 0);
        QCOMPARE(f->takeError(), QString("Fichier introuvable."));
        open(path);
        Clock::setNow({});
        QCOMPARE(reads, 2);
        QVERIFY(openAtEachRead);
        QCOMPARE(logLines()[1], QString("Lines read = 2\r elapsed time = 0.01"));
    }

    // The log shows the count line's CR as the symbol for a carriage return, drawn from a
    // font that has it, not as an empty box.
    void carriageReturnSymbolHasAGlyph()
    {
        QTextLayout layout(QString(QChar(0x240D)), FExtraction->ui->Memo2->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        QVERIFY(!runs.isEmpty());
        for (const QGlyphRun &run : runs) {
            QVERIFY(!run.glyphIndexes().isEmpty());
            if (runningUnderWine())
                QEXPECT_FAIL("", "Wine ships no font with U+240D (Windows has Segoe UI Symbol)",
                             Abort);
            for (const quint32 glyph : run.glyphIndexes())
                QVERIFY2(glyph != 0, qPrintable(run.rawFont().familyName()));
        }
    }

    void splitter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pieces");
        const QString mark = QString(QChar(0x0301)); // combining acute: a non-spacing mark
        QTest::newRow("tab and quotes") << "x@y\t\"p q@r\" z" << QStringList{"x@y", "p q@r", "z"};
        QTest::newRow("commas stay") << "x@y,z@w" << QStringList{"x@y,z@w"};
        QTest::newRow("piece after quote") << "\"x\"@y" << QStringList{"x", "@y"};
        QTest::newRow("inner quotes") << "x\"\"@y" << QStringList{"x\"\"@y"};
        QTest::newRow("doubled quote") << "\"x\"\"@y\"" << QStringList{"x\"@y"};
        QTest::newRow("unclosed") << "\"x@y" << QStringList{"x@y"};
        QTest::newRow("empty quoted") << "a \"\" b" << QStringList{"a", "", "b"};
        QTest::newRow("runs of separators") << "  \r\n a \x01\x1f b  " << QStringList{"a", "b"};
        QTest::newRow("only separators") << " \t " << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("NUL ends") << QString("a@b c") + QChar(0) + " d@e"
                                  << QStringList{"a@b", "c"};
        QTest::newRow("mark after blank dropped") << "a " + mark + "b" << QStringList{"a", "b"};
        QTest::newRow("mark after letter kept")
            << "a" + mark + " b" << QStringList{"a" + mark, "b"};
        QTest::newRow("surrogate pair")
            << QString::fromUtf8("x😀@y z") << QStringList{QString::fromUtf8("x😀@y"), "z"};
    }
    void splitter()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pieces);
        QStringList list{"old"};
        SplitDelimited(u' ', text, &list);
        QCOMPARE(list, pieces);
    }

    // The splitter step lists exactly the pieces holding "@", whether the line takes the
    // quick way (no double quote) or the full splitter.
    void splitterStep_data()
    {
        splitter_data();
        const QString mark = QString(QChar(0x0301));
        QTest::newRow("mark after blank, then address")
            << "a " + mark + "b@c d" << QStringList{"a", "b@c", "d"};
        QTest::newRow("mark first") << mark + "x@y" << QStringList{mark + "x@y"};
        QTest::newRow("marks after separators")
            << "	" + mark + mark + "@" + mark + " z" << QStringList{"@" + mark, "z"};
        QTest::newRow("several in one piece") << "a@b@c d@e @" << QStringList{"a@b@c", "d@e", "@"};
        QTest::newRow("controls around") << "x@yz@w" << QStringList{"x@y", "z@w"};
        QTest::newRow("quote late in line")
            << "x@y p\"q r@s\"" << QStringList{"x@y", "p\"q", "r@s\""};
    }
    void splitterStep()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pieces);
        QStringList expected;
        SplitDelimited(u' ', text, &expected);
        QCOMPARE(expected, pieces);
        expected.removeIf([](const QString &piece) { return !piece.contains(u'@'); });
        const int before = FExtraction->ui->ListBox1->count();
        FExtraction->ui->Edit1->setText(text);
        FExtraction->ui->Button5->click();
        QStringList listed = FExtraction->ui->ListBox1->items();
        listed.remove(0, before);
        QCOMPARE(listed, expected);
    }

    void splitterNeedsList()
    {
        QVERIFY_THROWS_EXCEPTION(QuorvaneError, SplitDelimited(u' ', "a", nullptr));
    }

    void openReportsAndScans()
    {
        const QString file = f->write("mails.txt", "hello a@b.c\nno address\n\"x y@z\" w@v,\n");
        open(file);
        const QStringList log = logLines();
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0], QString("File Size : 36 Bytes "));
        QVERIFY(log[1].startsWith("Lines read = 3\r elapsed time = "));
        QVERIFY(log[2].startsWith("3 Records loaded in "));
        QVERIFY(log[2].endsWith(" seconds."));
        QCOMPARE(FExtraction->ui->Edit3->text(), QString("3"));
        QCOMPARE(FExtraction->ui->Memo1->text(),
                 QString("\r\nhello a@b.c\r\nno address\r\n\"x y@z\" w@v,\r\n"));
        QCOMPARE(FExtraction->ui->ListBox1->items(), (QStringList{"a@b.c", "x y@z", "w@v,"}));
        QCOMPARE(FExtraction->ui->Edit1->text(), QString("\"x y@z\" w@v,"));
        QCOMPARE(FExtraction->Job.ExtractionLineCount, qint64(3));
        QVERIFY(f->errors.isEmpty());

        // A second Open appends; Save Emails writes everything in the system code page.
        open(file);
        QCOMPARE(FExtraction->ui->ListBox1->count(), 6);
        answer(f->path("out.txt"));
        FExtraction->ui->Button6->click();
        QCOMPARE(WindowFixture::read(f->path("out.txt")),
                 QByteArray("a@b.c\r\nx y@z\r\nw@v,\r\n").repeated(2));
    }

    // The "@" test and the splitter see a line up to its first NUL.
    void linesWithNul()
    {
        open(f->write("zero.txt", QByteArray("a\0b@c\nx@y\0 z@w\n", 15)));
        QCOMPARE(FExtraction->ui->ListBox1->items(), QStringList{"x@y"});
        QCOMPARE(FExtraction->ui->Edit1->text(), QString("x@y"));
        QCOMPARE(FExtraction->ui->Memo1->text(), QString("\r\na\r\nx@y"));
        QCOMPARE(FExtraction->Job.ExtractionLineCount, qint64(2));
    }

    // A line of millions of characters is shown (cut on screen) and split like any other.
    void veryLongLine()
    {
        FExtraction->show();
        QByteArray line;
        for (int i = 0; i < 200000; ++i)
            line += "word" + QByteArray::number(i % 10) + "@x ";
        open(f->write("long-line.txt", line + "\nend\n"));
        QCOMPARE(FExtraction->ui->ListBox1->count(), 200000);
        QCOMPARE(FExtraction->ui->Memo1->line(1).size(), line.size());
        QCOMPARE(FExtraction->Job.ExtractionLineCount, qint64(2));
        // Drawn with the long line on screen: the view holds more than its background.
        const QImage shown = FExtraction->ui->Memo1->viewport()->grab().toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < shown.height() && colours.size() < 2; ++y)
            for (int x = 0; x < shown.width(); ++x)
                colours.insert(shown.pixel(x, y));
        QVERIFY(colours.size() > 1);
    }

    // When a handler ends, the views show what it added, without waiting for a later pump.
    void viewsUpToDateWhenHandlerEnds()
    {
        FExtraction->show();
        open(f->write("many.txt", numberedLines(3000, " a@b")));
        QCOMPARE(FExtraction->ui->ListBox1->count(), 3000);
        const QScrollBar *listBar = FExtraction->ui->ListBox1->verticalScrollBar();
        QCOMPARE(listBar->maximum() + listBar->pageStep(), 3000);
        const QScrollBar *memoBar = FExtraction->ui->Memo1->verticalScrollBar();
        QVERIFY(memoBar->maximum() + memoBar->pageStep() >= 3000);
    }

    // The three choices of Save Emails, through their check boxes: the saved file holds what
    // they keep, the log says what was applied, the list itself is unchanged.
    // Lines and addresses of a file that another program changes after the scan are never
    // shown, found or saved wrong: the views report the read error once each, a find in the
    // raw lines fails, Save Emails fails and leaves its file as it was. A file replaced or
    // deleted by name keeps, on Linux, the bytes the views refer to: they work on.
    void sourceChangedAfterScan_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("mustFail");
        QTest::newRow("a byte changed in place, same size and time") << "byte" << true;
        QTest::newRow("shortened") << "shortened" << true;
#if !defined(Q_OS_WIN)
        QTest::newRow("replaced by a rename") << "renamed over" << false;
        QTest::newRow("deleted") << "deleted" << false;
#endif
    }
    void sourceChangedAfterScan()
    {
        QFETCH(QString, change);
        QFETCH(bool, mustFail);
        // More than the 16 MiB each box keeps in memory: their first chunks leave it.
        QByteArray bytes, saved;
        for (int i = 0; i < 250000; ++i) {
            const QByteArray address =
                "u" + QByteArray::number(i).rightJustified(7, '0') + "@" + QByteArray(70, 'm');
            bytes += address + "\n";
            saved += address + "\r\n";
        }
        const QString name = f->write("big.txt", bytes);
        const QString target = f->write("out.txt", "old");
        FExtraction->show();
        open(name);
        QCOMPARE(FExtraction->ui->ListBox1->count(), 250000);
        QVERIFY(f->errors.isEmpty());
        // In the second of the chunks (of 8192 lines) that have left memory.
        QVERIFY(changeFile(name, change, 8192 * 80 * 3 / 2));
        // The lines and addresses of that chunk on screen.
        for (QAbstractScrollArea *box : std::initializer_list<QAbstractScrollArea *>{
                 FExtraction->ui->Memo1, FExtraction->ui->ListBox1}) {
            box->verticalScrollBar()->setValue(8192 * 3 / 2);
            box->viewport()->grab();
            box->viewport()->grab();
        }
        QCoreApplication::processEvents();
        const QString readError = "Erreur de lecture du flux.";
        QCOMPARE(f->errors, mustFail ? QStringList({readError, readError}) : QStringList());
        // Accessibility tools reading the same text get nothing of it, and no failure escapes
        // to them (nor is it shown again).
        QAccessibleInterface *memo = QAccessible::queryAccessibleInterface(FExtraction->ui->Memo1);
        const QString whole =
            memo->textInterface()->text(0, memo->textInterface()->characterCount());
        QCOMPARE(whole.isEmpty(), mustFail);
        QAccessibleInterface *list =
            QAccessible::queryAccessibleInterface(FExtraction->ui->ListBox1);
        QCOMPARE(list->child(8192 * 3 / 2)->text(QAccessible::Name),
                 mustFail ? QString() : QString(saved.mid(81 * 8192 * 3 / 2, 79)));
        QCoreApplication::processEvents();
        QCOMPARE(f->errors.size(), mustFail ? 2 : 0);
        f->errors.clear();
        FindBar *find = FExtraction->ui->Memo1->findBar();
        FindBar::SliceMilliseconds = 0;
        find->field()->setText("no such line");
        find->find(false);
        for (int i = 0; i < 2000 && find->isSearching(); ++i)
            QTest::qWait(5);
        QCOMPARE(find->status() == "Search failed", mustFail);
        QCoreApplication::processEvents();
        f->errors.clear();
        answer(target);
        FExtraction->ui->Button6->click();
        QCOMPARE(f->errors, mustFail ? QStringList({readError}) : QStringList());
        QCOMPARE(WindowFixture::read(target), mustFail ? QByteArray("old") : saved);
    }

    void saveChoices_data()
    {
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("Unique") << QStringList{"Unique"}
                                << QByteArray("b@x.com\r\na@x.com\r\n@\r\n\xe9@caf\xe9.fr\r\n")
                                << "Saved 4 of 6 addresses (Unique)";
        QTest::newRow("Sorted") << QStringList{"Sorted"}
                                << QByteArray("@\r\na@x.com\r\na@x.com\r\nb@x.com\r\n"
                                              "b@x.com\r\n\xe9@caf\xe9.fr\r\n")
                                << "Saved 6 of 6 addresses (Sorted)";
        QTest::newRow("Valid only") << QStringList{"Valid only"}
                                    << QByteArray("b@x.com\r\na@x.com\r\nb@x.com\r\na@x.com\r\n"
                                                  "\xe9@caf\xe9.fr\r\n")
                                    << "Saved 5 of 6 addresses (Valid only)";
        QTest::newRow("all three") << QStringList{"Unique", "Sorted", "Valid only"}
                                   << QByteArray("a@x.com\r\nb@x.com\r\n\xe9@caf\xe9.fr\r\n")
                                   << "Saved 3 of 6 addresses (Unique, Sorted, Valid only)";
    }
    void saveChoices()
    {
        QFETCH(QStringList, checked);
        QFETCH(QByteArray, saved);
        QFETCH(QString, logLine);
        open(f->write("list.txt", "b@x.com a@x.com @\nb@x.com a@x.com \xc3\xa9@caf\xc3\xa9.fr\n"));
        QCOMPARE(FExtraction->ui->ListBox1->count(), 6);
        const QList<QCheckBox *> boxes = {FExtraction->ui->UniqueCheckBox,
                                          FExtraction->ui->SortedCheckBox,
                                          FExtraction->ui->ValidOnlyCheckBox};
        for (QCheckBox *box : boxes) {
            QVERIFY(!box->isChecked()); // off at start
            if (checked.contains(box->text()))
                QTest::mouseClick(box, Qt::LeftButton);
        }
        answer(f->path("out.txt"));
        FExtraction->ui->Button6->click();
        QVERIFY2(f->errors.isEmpty(), qPrintable(f->errors.join('|')));
        QCOMPARE(WindowFixture::read(f->path("out.txt")), saved);
        QCOMPARE(logLines().last(), logLine);
        QCOMPARE(FExtraction->ui->ListBox1->count(), 6);
    }

    // A scan's additions reach accessibility tools in batches, one event per hand-over to
    // the views (not one per line), and together they are exactly what was added; a
    // selection in the memo is told as caret and selection events.
    void accessibilityEventsInBatches()
    {
        struct Seen
        {
            QObject *object;
            QAccessible::Event type;
            int first, last;
            QString text;
        };
        static QList<Seen> seen;
        seen.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
            Seen s{event->object(), event->type(), -1, -1, {}};
            if (event->type() == QAccessible::TextInserted) {
                auto *inserted = static_cast<QAccessibleTextInsertEvent *>(event);
                s.first = inserted->changePosition();
                s.text = inserted->textInserted();
            } else if (event->type() == QAccessible::TableModelChanged) {
                auto *changed = static_cast<QAccessibleTableModelChangeEvent *>(event);
                if (changed->modelChangeType() == QAccessibleTableModelChangeEvent::RowsInserted) {
                    s.first = changed->firstRow();
                    s.last = changed->lastRow();
                }
            } else if (event->type() == QAccessible::TextSelectionChanged) {
                auto *selected = static_cast<QAccessibleTextSelectionEvent *>(event);
                s.first = selected->selectionStart();
                s.last = selected->selectionEnd();
            }
            seen << s;
        });
        FExtraction->show();
        open(f->write("told.txt", numberedLines(3000, " a@b")));
        Memo *memo = FExtraction->ui->Memo1;
        memo->select({2, 1}, {2, 4});
        QAccessible::installUpdateHandler(nullptr);

        QString insertedText;
        int inserts = 0, rows = 0, rowEvents = 0, selections = 0;
        for (const Seen &s : std::as_const(seen)) {
            if (s.object == memo && s.type == QAccessible::TextInserted) {
                QCOMPARE(s.first, 2 + insertedText.size()); // each batch where the last ended
                insertedText += s.text;
                ++inserts;
            } else if (s.object == FExtraction->ui->ListBox1 &&
                       s.type == QAccessible::TableModelChanged && s.first >= 0) {
                QCOMPARE(s.first, rows);
                rows = s.last + 1;
                ++rowEvents;
            } else if (s.object == memo && s.type == QAccessible::TextSelectionChanged) {
                QCOMPARE(s.first, int(memo->offsetOf({2, 1})));
                QCOMPARE(s.last, int(memo->offsetOf({2, 4})));
                ++selections;
            }
        }
        QCOMPARE(insertedText, memo->text().mid(2));
        QCOMPARE(rows, 3000);
        QVERIFY2(inserts >= 1 && inserts <= 4, qPrintable(QString::number(inserts)));
        QVERIFY2(rowEvents >= 1 && rowEvents <= 4, qPrintable(QString::number(rowEvents)));
        QCOMPARE(selections, 1);
    }

    void saveEmptyList()
    {
        answer(f->path("none.txt"));
        FExtraction->ui->Button6->click();
        QVERIFY(QFile::exists(f->path("none.txt")));
        QCOMPARE(WindowFixture::read(f->path("none.txt")), QByteArray());
        answer(std::nullopt);
        FExtraction->ui->Button6->click(); // cancelled: nothing happens
        QVERIFY(f->errors.isEmpty());
    }

    void progressLines_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QStringList>("progress");
        QTest::newRow("999") << 999 << QStringList{};
        QTest::newRow("1000") << 1000
                              << QStringList{"Lines Done : 1000 / 1000 Percentage  :100.0%"};
        QTest::newRow("2500") << 2500
                              << QStringList{"Lines Done : 1000 / 2500 Percentage  :40.0%",
                                             "Lines Done : 2000 / 2500 Percentage  :80.0%"};
    }
    void progressLines()
    {
        QFETCH(int, lines);
        QFETCH(QStringList, progress);
        open(f->write("n.txt", numberedLines(lines)));
        const QStringList log = logLines();
        QCOMPARE(log.mid(2, log.size() - 3), progress);
        QVERIFY(log.last().startsWith(QString::number(lines) + " Records loaded in "));
        QCOMPARE(FExtraction->ui->Memo1->lineCount(), lines + 2);
    }

    void percentageAboveHundredForCrLines()
    {
        QByteArray bytes;
        for (int i = 0; i < 1000; ++i)
            bytes += "x\r";
        open(f->write("cr.txt", bytes));
        QCOMPARE(logLines().at(2), QString("Lines Done : 1000 / 1 Percentage  :100000.0%"));
    }

    void stopAtPumpThenOpenScansAgain()
    {
        const QString file = f->write("long.txt", numberedLines(3500, " a@b"));
        QTimer::singleShot(0, FExtraction, [] { FExtraction->ui->Button9->click(); });
        open(file);
        QStringList log = logLines();
        QCOMPARE(log.at(log.size() - 2), QString("Lines Done : 1000 / 3500 Percentage  :28.6%"));
        QVERIFY(log.last().startsWith("1000 Records loaded in "));
        QCOMPARE(FExtraction->ui->ListBox1->count(), 1000);
        QVERIFY(!FExtraction->Job.ExtractionRunning);

        open(file); // Open arms the scan again
        QVERIFY(logLines().last().startsWith("3500 Records loaded in "));
        QCOMPARE(FExtraction->ui->ListBox1->count(), 4500);
    }

    void openDuringScanIsIgnored()
    {
        const QString file = f->write("two.txt", numberedLines(2000, " a@b"));
        QTimer::singleShot(0, FExtraction, [&] { open(f->write("other.txt", "x@y\n")); });
        open(file);
        QCOMPARE(FExtraction->ui->ListBox1->count(), 2000);
        QCOMPARE(FileDialog::scriptedAnswersLeft(), 1); // the second Open showed no dialog
    }

    void encodingErrorAfterSummary()
    {
        QByteArray bytes = numberedLines(2000);
        bytes[9000] = '\xE9';
        QString summaryAtError;
        ErrorDisplay::setSink([&](const QString &message) {
            f->errors << message;
            summaryAtError = logLines().last();
        });
        open(f->write("bad.txt", bytes));
        QCOMPARE(f->takeError(), Errors::encodingError().message() + ".");
        QVERIFY(summaryAtError.contains(" Records loaded in "));
        QVERIFY(!FExtraction->Job.ExtractionLineReader); // closed
        QVERIFY(FExtraction->ui->Memo1->lineCount() > 1000);
    }

    void missingFileStopsAfterSize()
    {
        FExtraction->ui->Edit3->setText("77");
        open(f->path("absent.txt"));
        QCOMPARE(f->takeError(), QString("Fichier introuvable."));
        QCOMPARE(logLines(), QStringList{"File Size : -1 Bytes "});
        QCOMPARE(FExtraction->ui->Edit3->text(), QString("77"));
        QCOMPARE(FExtraction->ui->Memo1->text(), QString("\r\n"));
    }

    void cancelEndsTheChain()
    {
        open(f->write("first.txt", "a@b\n"));
        answer(std::nullopt);
        FExtraction->ui->Button4->click();
        QCOMPARE(logLines(), QStringList());
        QCOMPARE(FExtraction->ui->ListBox1->count(), 1);
        QVERIFY(f->errors.isEmpty());
    }

    // A count of 0 (a Ctrl-Z first) gives the progress lines no percentage; the scan goes on.
    void zeroCountScansToTheEnd()
    {
        open(f->write("z.txt", "\x1A" + numberedLines(1500)));
        QVERIFY(f->errors.isEmpty());
        QCOMPARE(FExtraction->ui->Edit3->text(), QString("0"));
        const QStringList log = logLines();
        QVERIFY(log.contains("Lines Done : 1000 / 0"));
        QVERIFY(log.last().startsWith("1500 Records loaded in "));
    }
};

QTEST_MAIN(TestExtraction)
#include "tst_extraction.moc"
