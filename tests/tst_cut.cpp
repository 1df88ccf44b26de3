#include "WindowTest.h"
#include "primitives/Clock.h"
#include "toolkit/UpDown.h"
#include "ui_Fcoupure.h"

static QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 31) ^ (i >> 9));
    return bytes;
}

class TestCut : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;
    Ui::TFcoupure *ui() { return Fcoupure->ui; }

    void select(std::optional<QString> fileName)
    {
        answer(std::move(fileName));
        ui()->Button4->click();
    }
    void setClock(int y, int mo, int d, int h, int mi, int s)
    {
        Clock::setNow([=] { return QDateTime(QDate(y, mo, d), QTime(h, mi, s, 345)); });
    }
    QString stamp() const { return "_2022630_957"; }

  private slots:
    void init()
    {
        f = std::make_unique<WindowFixture>();
        setClock(2022, 6, 30, 9, 5, 7);
    }
    void cleanup()
    {
        Clock::setNow({});
        f.reset();
    }

    void selectFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("kib");
        QTest::newRow("big.txt") << "big.txt" << qint64(10000000) << "big.txt"
                                 << ".txt"
                                 << "9765";
        QTest::newRow("contacts.txt") << "contacts.txt" << qint64(2048) << "contacts."
                                      << ".txt"
                                      << "2";
        QTest::newRow("no extension") << "emails" << qint64(1023) << "email"
                                      << ""
                                      << "0";
        QTest::newRow("empty file") << "e.csv" << qint64(0) << "e.csv"
                                    << ".csv"
                                    << "0";
    }
    void selectFile()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, field);
        QFETCH(QString, extension);
        QFETCH(QString, kib);
        QFile file(f->path(name));
        file.open(QIODevice::WriteOnly);
        file.resize(size);
        file.close();
        ui()->Edit5->setText("status");
        ui()->ListBox1->add(u"old");
        select(f->path(name));
        QCOMPARE(ui()->Edit1->text(), field);
        QCOMPARE(Fcoupure->Job.SourceExtension, extension);
        QCOMPARE(ui()->Edit3->text(), kib);
        QCOMPARE(ui()->Edit2->text(), QString());
        QCOMPARE(ui()->Edit5->text(), QString());
        QCOMPARE(ui()->ListBox1->count(), 0);
        QCOMPARE(QDir::currentPath(), f->dir.path()); // the chosen file's folder

        // Cancel clears the fields again but keeps the earlier choice.
        select(std::nullopt);
        QCOMPARE(ui()->Edit1->text(), QString());
        QCOMPARE(ui()->Edit3->text(), QString());
        QCOMPARE(Fcoupure->Job.SourceExtension, extension);
        QCOMPARE(Fcoupure->OpenDialog1.fileName(), QDir::toNativeSeparators(f->path(name)));
    }

    void missingFileShowsZero()
    {
        select(f->path("nothere.dat"));
        QCOMPARE(ui()->Edit3->text(), QString("0"));
        QCOMPARE(Fcoupure->Job.SourceExtension, QString(".dat"));
    }

    void spinner()
    {
        ui()->Edit3->setText("9765");
        UpDown *spin = ui()->UpDown1;
        spin->step(UpDown::Down); // at 0: nothing, no handler
        QCOMPARE(ui()->Edit2->text(), QString("0"));
        QVERIFY(f->errors.isEmpty());
        spin->step(UpDown::Up);
        QCOMPARE(ui()->Edit4->text(), QString("9765"));
        QTest::keyClick(ui()->Edit2, Qt::Key_Up);
        QTest::keyClick(ui()->Edit2, Qt::Key_Up);
        QCOMPARE(ui()->Edit2->text(), QString("3"));
        QCOMPARE(ui()->Edit4->text(), QString("3255"));
        ui()->Edit3->setText("10");
        ui()->Edit2->setText("3");
        spin->step(UpDown::Up);
        QCOMPARE(ui()->Edit4->text(), QString("2"));
        for (int i = 0; i < 4; ++i)
            spin->step(UpDown::Down);
        QCOMPARE(f->takeError(), QString("Division par zéro."));
        QCOMPARE(ui()->Edit4->text(), QString("10")); // from the step to 1
        ui()->Edit2->setText("100");
        spin->step(UpDown::Up);
        QCOMPARE(ui()->Edit2->text(), QString("100"));
        ui()->Edit3->setText("");
        spin->step(UpDown::Down);
        QCOMPARE(f->takeError(), QString("'' n'est pas une valeur entière correcte."));
    }

    void okPlansNames_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("two digits")
            << QDateTime(QDate(2022, 6, 30), QTime(9, 5, 7)) << "_2022630_957";
        QTest::newRow("one digit") << QDateTime(QDate(2022, 1, 5), QTime(0, 0, 9)) << "_202215_009";
        QTest::newRow("late") << QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58))
                              << "_20231231_235958";
    }
    void okPlansNames()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, stamp);
        Clock::setNow([=] { return when; });
        ui()->Edit1->setText("big.txt");
        Fcoupure->Job.SourceExtension = ".txt";
        ui()->Edit2->setText("3");
        ui()->Button1->click();
        const QStringList names{"big.txt_1" + stamp + ".txt", "big.txt_2" + stamp + ".txt",
                                "big.txt_3" + stamp + ".txt"};
        QCOMPARE(ui()->ListBox1->items(), names);
        QCOMPARE(Fcoupure->Job.PieceNames, names);
    }

    void okCountsAndTwice()
    {
        ui()->Edit1->setText("s");
        Fcoupure->Job.SourceExtension.clear();
        for (const char *count : {"0", "-2"}) {
            ui()->Edit2->setText(count);
            ui()->Button1->click();
        }
        QCOMPARE(ui()->ListBox1->count(), 0);
        ui()->Edit2->setText("12");
        ui()->Button1->click();
        QCOMPARE(Fcoupure->Job.PieceNames.size(), 12);
        QCOMPARE(Fcoupure->Job.PieceNames.last(), "s_12" + stamp());
        ui()->Edit2->setText("2");
        ui()->Button1->click();
        QCOMPARE(ui()->ListBox1->count(), 14);
        QCOMPARE(Fcoupure->Job.PieceNames, (QStringList{"s_1" + stamp(), "s_2" + stamp()}));
        ui()->Edit2->setText("10001");
        ui()->Button1->click();
        QVERIFY(f->takeError().startsWith("Cannot plan 10001 pieces"));
        QCOMPARE(ui()->ListBox1->count(), 14);
        ui()->Edit2->setText("abc");
        ui()->Button1->click();
        QCOMPARE(f->takeError(), QString("'abc' n'est pas une valeur entière correcte."));
    }

    // Plans through the window: select, count, spinner's size, ok; then Cut.
    void cutCoversTheWholeSource_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<QString>("kibEach");
        QTest::addColumn<QList<qint64>>("lengths");
        QTest::newRow("10,000,000 in 3")
            << qint64(10000000) << 3 << "3255" << QList<qint64>{3333120, 3333120, 3333760};
        QTest::newRow("12 pieces") << qint64(12 * 1024 + 100) << 12 << "1"
                                   << QList<qint64>{1024, 1024, 1024, 1024, 1024, 1024,
                                                    1024, 1024, 1024, 1024, 1024, 1124};
        QTest::newRow("smaller than a piece") << qint64(700) << 1 << "1" << QList<qint64>{700};
        // No empty pieces past the end of the source: the first piece holds all there is.
        QTest::newRow("empty source") << qint64(0) << 2 << "1" << QList<qint64>{0};
        QTest::newRow("5 bytes, 10 pieces of 1 KiB") << qint64(5) << 10 << "1" << QList<qint64>{5};
        QTest::newRow("exact multiple") << qint64(4096) << 2 << "2" << QList<qint64>{2048, 2048};
    }
    void cutCoversTheWholeSource()
    {
        QFETCH(qint64, size);
        QFETCH(int, pieces);
        QFETCH(QString, kibEach);
        QFETCH(QList<qint64>, lengths);
        const QByteArray data = pattern(size);
        QDir(f->dir.path()).mkdir("src");
        select(f->write("src/data.bin", data));
        ui()->Edit2->setText(QString::number(pieces));
        ui()->Button1->click();
        ui()->Edit4->setText(kibEach);
        // Another dialog confirmed in another folder moves where the pieces land.
        answer(f->path("elsewhere.txt"));
        Fedittext->OpenTextFileDialog1.execute();
        ui()->Button2->click();
        QVERIFY2(f->errors.isEmpty(), qPrintable(f->errors.join('|')));
        QCOMPARE(ui()->Edit5->text(), QString("Cut Done, Check the folder !"));
        QByteArray joined;
        for (int b = 0; b < pieces; ++b) {
            if (b >= lengths.size()) {
                QVERIFY(!QFile::exists(f->path(Fcoupure->Job.PieceNames[b])));
                continue;
            }
            const QByteArray piece = WindowFixture::read(f->path(Fcoupure->Job.PieceNames[b]));
            QVERIFY(QFile::exists(f->path(Fcoupure->Job.PieceNames[b])));
            QCOMPARE(piece.size(), lengths[b]);
            joined += piece;
        }
        QCOMPARE(joined, data);
        // Cut again: the same pieces again.
        ui()->Button2->click();
        QCOMPARE(WindowFixture::read(f->path(Fcoupure->Job.PieceNames[0])).size(), lengths[0]);
    }

    void cutRefusals()
    {
        ui()->Button2->click(); // empty list, empty field: the conversion error
        QCOMPARE(f->takeError(), QString("'' n'est pas une valeur entière correcte."));
        QCOMPARE(ui()->Edit5->text(), QString());
        ui()->Edit4->setText("5");
        ui()->Button2->click(); // empty list: done, nothing cut
        QCOMPARE(ui()->Edit5->text(), QString("Cut Done, Check the folder !"));
        QVERIFY(f->errors.isEmpty());

        ui()->Edit2->setText("2");
        ui()->Button1->click();
        ui()->Button2->click(); // no file ever chosen
        QVERIFY(f->takeError().startsWith("No file was chosen"));
        QCOMPARE(ui()->Edit5->text(), QString("Cut failed, see the message."));

        select(f->write("small.txt", "tiny"));
        ui()->Edit2->setText("2");
        ui()->Button1->click();
        for (const char *kib : {"0", "-3"}) {
            ui()->Edit4->setText(kib);
            ui()->Button2->click();
            QVERIFY(f->takeError().startsWith("The size of a piece must be at least"));
            QVERIFY(!QFile::exists(f->path(Fcoupure->Job.PieceNames[0])));
        }
    }

    void failurePartWayKeepsEarlierPieces()
    {
        select(f->write("part.txt", pattern(3000)));
        ui()->Edit2->setText("3");
        ui()->Button1->click();
        ui()->Edit4->setText("1");
        QDir(f->dir.path()).mkdir(Fcoupure->Job.PieceNames[1]); // piece 2 cannot be created
        ui()->Button2->click();
        QVERIFY(f->takeError().startsWith("Impossible de créer le fichier"));
        QCOMPARE(ui()->Edit5->text(), QString("Cut failed, see the message."));
        QCOMPARE(WindowFixture::read(f->path(Fcoupure->Job.PieceNames[0])), pattern(1024));
        QVERIFY(!QFile::exists(f->path(Fcoupure->Job.PieceNames[2])));
    }

    void pieceThatIsTheSourceIsRefused()
    {
        const QByteArray data = pattern(5000);
        select(f->write("s_1" + stamp() + ".txt", data));
        ui()->Edit1->setText("s");
        ui()->Edit2->setText("2");
        ui()->Button1->click();
        QCOMPARE(Fcoupure->Job.PieceNames.first(), "s_1" + stamp() + ".txt");
        ui()->Edit4->setText("1");
        ui()->Button2->click();
        QVERIFY(f->takeError().contains("would replace the file being cut"));
        QCOMPARE(WindowFixture::read(f->path("s_1" + stamp() + ".txt")), data);
        QVERIFY(!QFile::exists(f->path(Fcoupure->Job.PieceNames[1])));
    }

    // A cut on a slow medium: Stop during the second piece keeps the first, removes the
    // unfinished second and makes no third.
    void stopDuringCut()
    {
        select(sparseFile(f->path("big.bin"), qint64(48) << 20));
        ui()->Edit2->setText("3");
        ui()->Button1->click();
        ui()->Edit4->setText(QString::number(16 * 1024));
        const QStringList names = Fcoupure->Job.PieceNames;
        Fcoupure->show();
        bool lockedDuringCopy = false;
        SlowCopy slow(
            ui()->Edit5, [&](const QStringList &texts) { return texts.last().contains(names[1]); },
            [&] {
                lockedDuringCopy = ui()->Button2->text() == "Stop" && !ui()->Button4->isEnabled() &&
                                   !ui()->Button1->isEnabled();
                ui()->Button2->click();
            });
        ui()->Button2->click();
        QVERIFY(f->errors.isEmpty());
        QVERIFY(lockedDuringCopy);
        QVERIFY(slow.progressTexts().first().startsWith("Copying " + names[0] + ": "));
        QCOMPARE(ui()->Edit5->text(),
                 "Cut stopped: the unfinished piece was removed; kept 1 piece(s): " + names[0] +
                     ".");
        QCOMPARE(QFileInfo(f->path(names[0])).size(), qint64(16) << 20);
        QVERIFY(!QFile::exists(f->path(names[1])));
        QVERIFY(!QFile::exists(f->path(names[2])));
        QCOMPARE(ui()->Button2->text(), QString("Cut"));
        QVERIFY(ui()->Button4->isEnabled() && ui()->Button1->isEnabled());
    }

    void largePieceSizeInSixtyFourBits()
    {
        // 2,097,152 KiB and more: the size does not wrap.
        select(f->write("wide.bin", "abc"));
        ui()->Edit2->setText("1");
        ui()->Button1->click();
        ui()->Edit4->setText("2097152");
        ui()->Button2->click();
        QVERIFY(f->errors.isEmpty());
        QCOMPARE(WindowFixture::read(f->path(Fcoupure->Job.PieceNames[0])), QByteArray("abc"));
    }
};

QTEST_MAIN(TestCut)
#include "tst_cut.moc"
