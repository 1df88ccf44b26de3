#include "WindowTest.h"
#include "primitives/FileStream.h"
#include "ui_Fjointure.h"

class TestJoin : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;
    Ui::TFjointure *ui() { return Fjointure->ui; }

    void add(const QString &fileName)
    {
        answer(fileName);
        ui()->Button1->click();
    }
    void join(const QString &destination)
    {
        answer(destination);
        ui()->Button3->click();
        ui()->Button2->click();
    }

  private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() { f.reset(); }

    void companionNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("companion");
        QTest::newRow("extension") << "C:\\data\\words.txt" << 2 << "C:\\data\\words._2";
        QTest::newRow("ten") << "C:\\data\\words.txt" << 10 << "C:\\data\\words._10";
        QTest::newRow("no extension") << "C:\\data\\words" << 2 << "C:\\data\\words._2";
        QTest::newRow("dot in folder") << "C:\\old.data\\words" << 2 << "C:\\old.data\\words._2";
        QTest::newRow("dot in posix folder") << "/old.data/words" << 3 << "/old.data/words._3";
        QTest::newRow("drive only") << "C:words" << 2 << "C:words._2";
        QTest::newRow("companion") << "/d/words._2" << 3 << "/d/words._3";
    }
    void companionNames()
    {
        QFETCH(QString, name);
        QFETCH(int, number);
        QFETCH(QString, companion);
        QCOMPARE(CompanionName(name, number), companion);
    }

    void joinsPiecesAndCompanions()
    {
        f->write("a.txt", "A1");
        f->write("a._2", "A2");
        f->write("a._3", "A3");
        f->write("a._5", "A5"); // after the gap: not used
        f->write("b", "B1");
        f->write("b._2", ""); // an empty piece adds nothing; the series goes on
        f->write("b._3", "B3");
        f->write("c._2", "C2"); // c itself is missing: nothing of it is used
        for (int k = 2; k <= 10; ++k)
            f->write("d._" + QString::number(k), QByteArray::number(k));
        QDir(f->dir.path()).mkdir("dir.txt");
        for (const char *name : {"a.txt", "b", "c", "a._2", "a.txt", "dir.txt", "d._9"})
            add(f->path(name));
        QCOMPARE(ui()->ListBox1->count(), 7);
        join(f->path("out.bin"));
        QCOMPARE(ui()->Edit5->text(), QString("Files Joinded Succesfully !, Check the folder !"));
        QCOMPARE(WindowFixture::read(f->path("out.bin")), QByteArray("A1A2A3"
                                                                     "B1B3"
                                                                     "A2"
                                                                     "A2A3"
                                                                     "A1A2A3"
                                                                     "9"
                                                                     "2345678910"));
        QVERIFY(f->errors.isEmpty());
    }

    void emptyListAndMissingFiles()
    {
        ui()->Edit1->setText(f->path("never.bin"));
        ui()->Button2->click();
        QCOMPARE(ui()->Edit5->text(), QString("Files Joinded Succesfully !, Check the folder !"));
        QVERIFY(!QFile::exists(f->path("never.bin")));

        add(f->path("ghost1"));
        add(f->path("ghost2"));
        join(f->path("empty.bin"));
        QVERIFY(QFile::exists(f->path("empty.bin")));
        QCOMPARE(WindowFixture::read(f->path("empty.bin")), QByteArray());
    }

    void destinationThatIsAPieceIsRefused_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("listed file") << "src.txt";
        QTest::newRow("companion") << "src._2";
        QTest::newRow("other spelling") << "sub/../src._2";
#ifdef Q_OS_UNIX
        QTest::newRow("link") << "link";
#endif
    }
    void destinationThatIsAPieceIsRefused()
    {
        QFETCH(QString, destination);
        f->write("src.txt", "keep");
        f->write("src._2", "keep2");
        QDir(f->dir.path()).mkdir("sub");
        QFile::link(f->path("src._2"), f->path("link"));
        add(f->path("src.txt"));
        ui()->Edit5->setText("old status");
        ui()->Edit1->setText(f->path(destination));
        ui()->Button2->click();
        QVERIFY(f->takeError().startsWith("The destination \"" + f->path(destination) +
                                          "\" is one of the files to join"));
        QVERIFY(ui()->Edit5->text() != "old status");
        QVERIFY(ui()->Edit5->text() != "Files Joinded Succesfully !, Check the folder !");
        QCOMPARE(WindowFixture::read(f->path("src.txt")), QByteArray("keep"));
        QCOMPARE(WindowFixture::read(f->path("src._2")), QByteArray("keep2"));
    }

    // A failure part-way leaves the destination as it was, old or missing, and nothing else.
    void failurePartWayLeavesDestination()
    {
        f->write("one.txt", "first");
        f->write("two.txt", "second");
        f->write("old.bin", "old");
        add(f->path("one.txt"));
        add(f->path("two.txt"));
        // Another opener holds two.txt for writing: its open fails.
        FileStream writer(f->path("two.txt"), 0x0012);
        for (const char *destination : {"out.bin", "old.bin"}) {
            join(f->path(destination));
            QVERIFY(f->takeError().startsWith("Impossible d'ouvrir le fichier \"" +
                                              QDir::toNativeSeparators(f->path("two.txt")) +
                                              "\"."));
            QCOMPARE(ui()->Edit5->text(), QString("Join failed, see the message."));
        }
        QVERIFY(!QFile::exists(f->path("out.bin")));
        QCOMPARE(WindowFixture::read(f->path("old.bin")), QByteArray("old"));
        QCOMPARE(QDir(f->dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"old.bin", "one.txt", "two.txt"}));

        // A destination that cannot be created: nothing written.
        writer.close();
        join(f->path("missing/dir/out.bin"));
        QVERIFY(f->takeError().startsWith("Impossible de créer le fichier"));
        // An empty destination field names the empty name, not the current folder.
        ui()->Edit1->clear();
        ui()->Button2->click();
        QVERIFY(f->takeError().startsWith("Impossible de créer le fichier \"\". "));
    }

    // The source list's find bar: Ctrl+F and F3 make the next matching item current.
    void findInTheList()
    {
        Fjointure->show();
        Fjointure->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Fjointure)); // shortcuts work in the active window
        for (const char *name : {"alpha.txt", "beta.txt", "alphabet.txt"})
            add(f->path(name));
        ListBox *list = ui()->ListBox1;
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(list->findBar()->isVisible());
        QTest::keyClicks(list->findBar()->field(), "ALPHA");
        QTest::keyClick(list->findBar()->field(), Qt::Key_Return);
        QCOMPARE(list->currentIndex(), 0);
        QTest::keyClick(list->findBar()->field(), Qt::Key_F3);
        QCOMPARE(list->currentIndex(), 2);
        QTest::keyClick(list->findBar()->field(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(list->currentIndex(), 0);
        QTest::keyClick(list->findBar()->field(), Qt::Key_G, Qt::ControlModifier);
        QTest::keyClicks(list->findBar()->field(), "2");
        QTest::keyClick(list->findBar()->field(), Qt::Key_Return);
        QCOMPARE(list->currentIndex(), 1);
    }

    // A join on a slow medium shows its progress; Stop (or closing the window) ends it at
    // the next pump and leaves the old destination as it was.
    void stopDuringJoin_data()
    {
        QTest::addColumn<bool>("closeWindow");
        QTest::newRow("Stop") << false;
        QTest::newRow("window closed") << true;
    }
    void stopDuringJoin()
    {
        QFETCH(bool, closeWindow);
        add(f->write("small.txt", "abc"));
        add(sparseFile(f->path("big.txt"), qint64(64) << 20));
        const QString destination = f->path("out.bin");
        f->write("out.bin", "old");
        Fjointure->show();
        bool lockedDuringCopy = false;
        SlowCopy slow(
            ui()->Edit5, [](const QStringList &texts) { return texts.size() >= 4; },
            [&] {
                lockedDuringCopy = ui()->Button2->text() == "Stop" && !ui()->Button1->isEnabled() &&
                                   !ui()->Button3->isEnabled();
                if (closeWindow)
                    Fjointure->close();
                else
                    ui()->Button2->click();
            });
        join(destination);
        QVERIFY(f->errors.isEmpty());
        // The small piece shows too when a slow machine reaches a pump during its copy.
        const QStringList shown = slow.progressTexts();
        const QRegularExpression big("^Copying big\\.txt: .+ of 64\\.00 MiB \\(\\d+ %\\), .+/s$");
        const QRegularExpression small("^Copying small\\.txt: .+ of 64\\.00 MiB \\(0 %\\), .+/s$");
        QVERIFY2(shown.filter(big).size() >= 2, qPrintable(shown.join('|')));
        for (const QString &text : shown)
            QVERIFY2(big.match(text).hasMatch() || small.match(text).hasMatch(), qPrintable(text));
        QVERIFY(lockedDuringCopy);
        QVERIFY2(slow.answeredMs >= 0 && slow.answeredMs < 10000,
                 qPrintable(QString::number(slow.answeredMs)));
        QCOMPARE(ui()->Edit5->text(), QString("Join stopped: the destination was left as it was."));
        QCOMPARE(WindowFixture::read(destination), QByteArray("old"));
        QCOMPARE(QDir(f->dir.path()).entryList({".qv-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
        QCOMPARE(ui()->Button2->text(), QString("Join Files"));
        QVERIFY(ui()->Button1->isEnabled() && ui()->Button3->isEnabled());
        QVERIFY(!Fjointure->Job.isCopying());
    }
};

QTEST_MAIN(TestJoin)
#include "tst_join.moc"
