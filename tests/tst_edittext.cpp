#include "FileChange.h"
#include "WindowTest.h"
#include "primitives/LineReader.h"
#include "ui_Fedittext.h"

#include <QCheckBox>
#include <QLineEdit>

class TestEditText : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;
    Ui::TFedittext *ui() { return Fedittext->ui; }

    void open(std::optional<QString> fileName)
    {
        answer(std::move(fileName));
        ui()->Button4->click();
    }
    QByteArray save()
    {
        answer(f->path("saved.out"));
        ui()->Button6->click();
        return WindowFixture::read(f->path("saved.out"));
    }

  private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup()
    {
        FindBar::SliceMilliseconds = 15;
        f.reset();
    }

    // The memo's find bar by its keys: Ctrl+F, typing, Enter, F3, Shift+F3, Match case, a
    // round past the end, "No match", Escape; Ctrl+G to a line.
    void findBarKeys()
    {
        Fedittext->show();
        Fedittext->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Fedittext)); // shortcuts work in the active window
        Memo *memo = ui()->Memo1;
        memo->setText("alpha Word\r\nbeta\r\nword gamma word\r\nWORD\r\nend");
        memo->setFocus();
        FindBar *bar = memo->findBar();
        QVERIFY(bar->isHidden());
        QTest::keyClick(memo, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), bar->field());
        QCOMPARE(bar->field()->accessibleName(), QString("Find"));
        QTest::keyClicks(bar->field(), "word");
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(memo->selectedText(), QString("Word")); // the case folded
        QCOMPARE(memo->anchorPosition(), (Memo::Position{0, 6}));
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QCOMPARE(memo->anchorPosition(), (Memo::Position{2, 0}));
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QCOMPARE(memo->anchorPosition(), (Memo::Position{2, 11}));
        QTest::keyClick(bar->field(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(memo->anchorPosition(), (Memo::Position{2, 0}));
        QTest::mouseClick(bar->matchCase(), Qt::LeftButton);
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QTest::keyClick(bar->field(), Qt::Key_F3); // past "WORD": round to the start
        QCOMPARE(memo->anchorPosition(), (Memo::Position{2, 0}));
        QCOMPARE(bar->status(), QString("Went round to the start"));
        bar->field()->clear();
        QTest::keyClicks(bar->field(), "delta");
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(bar->status(), QString("No match"));
        QCOMPARE(memo->anchorPosition(), (Memo::Position{2, 0})); // the selection stays
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QCOMPARE(QApplication::focusWidget(), memo);

        QTest::keyClick(memo, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->field()->accessibleName(), QString("Go to line"));
        QTest::keyClicks(bar->field(), "4");
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(memo->cursorPosition(), (Memo::Position{3, 0}));
        bar->field()->setText("9");
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QCOMPARE(bar->status(), QString("No line 9: the lines are 1 to 5"));
        QCOMPARE(memo->cursorPosition(), (Memo::Position{3, 0}));
    }

    // A search of many lines runs in slices between events; Escape stops it, F3 runs it again
    // to its end.
    void findInSlices()
    {
        Fedittext->show();
        Fedittext->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Fedittext)); // shortcuts work in the active window
        Memo *memo = ui()->Memo1;
        QString text;
        for (int i = 0; i < 20000; ++i)
            text += QString("line %1\r\n").arg(i);
        memo->setText(text + "needle");
        memo->select({}, {});
        FindBar::SliceMilliseconds = 0; // a chunk a slice
        FindBar *bar = memo->findBar();
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(bar->field(), "needle");
        QTest::keyClick(bar->field(), Qt::Key_Return);
        QVERIFY(bar->isSearching());
        QVERIFY2(bar->status().startsWith("Searching"), qPrintable(bar->status()));
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QVERIFY(!bar->isSearching());
        QCOMPARE(bar->status(), QString("Stopped"));
        QVERIFY(bar->isVisible());
        QTest::keyClick(bar->field(), Qt::Key_F3);
        QTRY_VERIFY(!bar->isSearching());
        QCOMPARE(memo->anchorPosition(), (Memo::Position{20000, 0}));
        QCOMPARE(memo->selectedText(), QString("needle"));
    }

    void decoratesAndSaves_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("final break")
            << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\nxay\r\nxby\r\n");
        QTest::newRow("no final break")
            << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\nxay\r\nxby");
        QTest::newRow("empty file") << QByteArray() << QByteArray();
        QTest::newRow("empty lines")
            << QByteArray("a\n\nb") << QByteArray("a\r\n\r\nb\r\nxay\r\nxy\r\nxby");
        QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBF\xC3\xA9\n")
                                  << QByteArray("\xEF\xBB\xBF\xC3\xA9\r\nx\xC3\xA9y\r\n");
        QTest::newRow("beyond Latin-1") << QByteArray("\xEF\xBB\xBF\xE2\x82\xAC\nz\n")
                                        << QByteArray("\xEF\xBB\xBF\xE2\x82\xAC\r\nz\r\n"
                                                      "x\xE2\x82\xACy\r\nxzy\r\n");
        QTest::newRow("utf16le") << QByteArray("\xFF\xFE"
                                               "a\0\n\0",
                                               6)
                                 << QByteArray("\xFF\xFE"
                                               "a\0\r\0\n\0x\0a\0y\0\r\0\n\0",
                                               18);
        QTest::newRow("NUL cuts the piece")
            << QByteArray("q\na\0b\n", 6) << QByteArray("q\r\na\r\nxqy\r\nxa");
    }
    void decoratesAndSaves()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        open(f->write("in.txt", file));
        QCOMPARE(ui()->Edit3->text(), QDir::toNativeSeparators(f->path("in.txt")));
        ui()->Edit1->setText("x");
        ui()->Edit2->setText("y");
        ui()->Button1->click();
        QCOMPARE(save(), saved);
        QVERIFY(f->errors.isEmpty());
        QVERIFY(!Fedittext->Job.EditLineReader);
    }

    // Start's lines refer to the file: saved as they were added; once another program has
    // changed the file, a save fails with the read error and leaves its target as it was.
    void startThenSourceChanged()
    {
        QByteArray bytes, saved;
        for (int i = 0; i < 250000; ++i)
            bytes +=
                "line " + QByteArray::number(i).rightJustified(7, '0') + QByteArray(67, 'e') + "\n";
        saved = bytes;
        saved.replace("\n", "\r\n");
        QByteArray decorated = bytes;
        decorated.replace("\n", ">\r\n<");
        saved += "<" + decorated.chopped(1);
        const QString name = f->write("big.txt", bytes);
        open(name);
        ui()->Edit1->setText("<");
        ui()->Edit2->setText(">");
        ui()->Button1->click();
        QCOMPARE(save(), saved);
        QVERIFY(changeFile(name, "byte", 15000 * 80 + 10));
        const QString target = f->write("kept.txt", "old");
        answer(target);
        ui()->Button6->click();
        QCOMPARE(f->errors, QStringList({"Erreur de lecture du flux."}));
        QCOMPARE(WindowFixture::read(target), QByteArray("old"));
    }

    // Start's lines saved over the file they refer to: the file is let go of first where
    // an open file cannot be renamed over (Windows).
    void saveOverStartedFile()
    {
        QByteArray bytes;
        for (int i = 0; i < 40000; ++i)
            bytes += "line " + QByteArray::number(i) + "\n";
        QByteArray saved = bytes;
        saved.replace("\n", "\r\n");
        saved += saved;
        const QString name = f->write("same.txt", bytes);
        open(name);
        ui()->Button1->click();
        answer(name);
        ui()->Button6->click();
        QVERIFY2(f->errors.isEmpty(), qPrintable(f->errors.join('|')));
        QCOMPARE(WindowFixture::read(name), saved);
        QCOMPARE(save(), saved); // and the memo still reads
    }

    void startWithoutFileName()
    {
        ui()->Memo1->setText("keep");
        ui()->Button1->click();
        QCOMPARE(ui()->Edit4->text(), QString("Click Open File First "));
        QCOMPARE(ui()->Memo1->text(), QString("keep"));
    }

    void prefixChangesBetweenRunsAndCancelKeepsFile()
    {
        const QString file = f->write("p.txt", "1\n2\n");
        open(file);
        ui()->Edit1->setText("<");
        ui()->Button1->click();
        ui()->Edit1->setText("");
        ui()->Edit2->setText(">");
        ui()->Button1->click(); // two runs after one Open append twice
        QCOMPARE(ui()->Memo1->text(), QString("1\r\n2\r\n<1\r\n<2\r\n1>\r\n2>\r\n"));

        open(std::nullopt); // cancel: memo emptied, field kept, the earlier file read again
        QCOMPARE(ui()->Memo1->text(), QString());
        QCOMPARE(ui()->Edit3->text(), QDir::toNativeSeparators(file));
        ui()->Edit3->setText("something else"); // only its emptiness counts
        ui()->Button1->click();
        QCOMPARE(ui()->Memo1->text(), QString("1>\r\n2>\r\n"));
    }

    void stopThenStartAddsNothingUntilOpen()
    {
        QByteArray lines;
        for (int i = 0; i < 2500; ++i)
            lines += "l\n";
        const QString file = f->write("big.txt", lines);
        open(file);
        QTimer::singleShot(0, Fedittext, [this] {
            ui()->Button1->click(); // Start during the pump: ignored
            ui()->Button5->click(); // Stop
        });
        ui()->Button1->click();
        QCOMPARE(ui()->Memo1->lineCount(), 2500 + 1000 + 1);
        QCOMPARE(Fedittext->Job.EditLineCount, qint64(1000));
        ui()->Button1->click(); // stopped: opens, adds nothing
        QCOMPARE(ui()->Memo1->lineCount(), 3501);
        open(file);
        ui()->Button1->click();
        QCOMPARE(ui()->Memo1->lineCount(), 5001);
    }

    void codePageFileFailsPartWay()
    {
        QByteArray bytes;
        for (int i = 0; i < 1000; ++i)
            bytes += "line\n";
        bytes += "caf\xE9\n";
        open(f->write("cp.txt", bytes));
        QVERIFY(ui()->Memo1->text().endsWith("café\r\n")); // the load reads the code page
        ui()->Button1->click();
        QCOMPARE(f->takeError(), Errors::encodingError().message() + ".");
        // The lines of the blocks before the failing one were added.
        const int added = ui()->Memo1->lineCount() - 1002;
        QCOMPARE(added, 819);
        QVERIFY(!Fedittext->Job.EditLineReader);
    }

    void failedLoadIsReported()
    {
        open(f->write("bad.txt", "\xEF\xBB\xBF\xFF"));
        QCOMPARE(f->takeError(), Errors::encodingError().message() + ".");
        QCOMPARE(ui()->Memo1->text(), QString());
        QCOMPARE(ui()->Edit3->text(), QDir::toNativeSeparators(f->path("bad.txt")));
        QVERIFY(Fedittext->Job.EditRunning);
        // The encoding of the failed load is still used by Save.
        ui()->Memo1->setText("é");
        QCOMPARE(save(), QByteArray("\xEF\xBB\xBF\xC3\xA9"));
    }

    void saveOverOpenedFileAndFailedSave()
    {
        const QString file = f->write("same.txt", "a\n");
        open(file);
        ui()->Button1->click();
        answer(file);
        ui()->Button6->click();
        QCOMPARE(WindowFixture::read(file), QByteArray("a\r\na\r\n"));
        answer(f->path("no/such/dir/x.txt"));
        ui()->Button6->click();
        QVERIFY(f->takeError().startsWith("Impossible de créer le fichier"));
    }
};

QTEST_MAIN(TestEditText)
#include "tst_edittext.moc"
