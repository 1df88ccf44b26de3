#include "WindowTest.h"
#include "Wine.h"
#include "toolkit/Pump.h"
#include "ui_FExtraction.h"
#include "ui_Fcoupure.h"
#include "ui_Fedittext.h"
#include "ui_Fiche_principale.h"
#include "ui_Fjointure.h"
#include <QCheckBox>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

class TestLauncher : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

  private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() { f.reset(); }

    void startUpCreatesFiveWindows()
    {
        QVERIFY(Fiche_principale && FExtraction && Fjointure && Fcoupure && Fedittext);
        QCOMPARE(Fiche_principale->windowTitle(), QString("Quorvane"));
        QCOMPARE(FExtraction->windowTitle(), QString("FExtraction"));
        QVERIFY(Fiche_principale->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(FExtraction->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(Fjointure->windowFlags() & Qt::WindowStaysOnTopHint));
        for (QWidget *tool : {(QWidget *)FExtraction, (QWidget *)Fjointure, (QWidget *)Fcoupure,
                              (QWidget *)Fedittext}) {
            QVERIFY(!tool->isVisible());
            QCOMPARE(tool->parentWidget(), Fiche_principale); // owned: stays in front
            QVERIFY(tool->isWindow());
            QVERIFY(!(tool->windowFlags() & Qt::WindowMaximizeButtonHint));
            QCOMPARE(tool->minimumSize(), tool->maximumSize()); // fixed frame
        }
        QCOMPARE(Fiche_principale->size(), QSize(643, 479));
        QCOMPARE(FExtraction->size(), QSize(645, 478));
        QCOMPARE(Fcoupure->size(), QSize(641, 491));
        QVERIFY(!Fiche_principale->ui->Image2->pixmap().isNull());
        QCOMPARE(Fiche_principale->ui->Image2->pixmap().size(), QSize(640, 476));
        QCOMPARE(FExtraction->font().pixelSize(), 11);
    }

    void buttonTwiceGivesOneWindow()
    {
        Fiche_principale->show();
        const int before = QApplication::topLevelWidgets().size();
        Fiche_principale->ui->SpeedButton1->click();
        Fiche_principale->ui->SpeedButton1->click();
        QVERIFY(FExtraction->isVisible());
        QCOMPARE(QApplication::topLevelWidgets().size(), before);
        // Closing hides; showing again keeps contents and position.
        FExtraction->ui->Memo2->addLine(u"kept");
        FExtraction->ui->Memo2->flush();
        const QPoint where = FExtraction->pos();
        FExtraction->close();
        QVERIFY(!FExtraction->isVisible());
        Fiche_principale->ui->SpeedButton1->click();
        QVERIFY(FExtraction->isVisible());
        QCOMPARE(FExtraction->pos(), where);
        QCOMPARE(FExtraction->ui->Memo2->text(), QString("kept\r\n"));
        Fiche_principale->ui->SpeedButton3->click();
        Fiche_principale->ui->SpeedButton4->click();
        QVERIFY(Fcoupure->isVisible() && Fedittext->isVisible());
    }

    void joinButtonResetsEveryTime()
    {
        for (int round = 0; round < 2; ++round) {
            Fjointure->ui->Edit1->setText("dest");
            Fjointure->ui->Edit5->setText("status");
            Fjointure->ui->ListBox1->add(u"a");
            Fiche_principale->ui->SpeedButton2->click();
            QVERIFY(Fjointure->isVisible());
            QCOMPARE(Fjointure->ui->Edit1->text(), QString());
            QCOMPARE(Fjointure->ui->Edit5->text(), QString());
            QCOMPARE(Fjointure->ui->ListBox1->count(), 0);
        }
    }

    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Erreur de lecture du flux"
                                << "Erreur de lecture du flux.";
        QTest::newRow("digit") << "Erreur E/S 21"
                               << "Erreur E/S 21.";
        QTest::newRow("colon") << "a:"
                               << "a:.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("bang") << "Stop !"
                              << "Stop !";
        QTest::newRow("paren") << "(x)"
                               << "(x)";
        QTest::newRow("quote") << "\"x\""
                               << "\"x\"";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        // Through the click guard, as any handler's failure reaches it.
        ErrorDisplay::runGuarded([&] { throw QuorvaneError(message); });
        QCOMPARE(f->takeError(), shown);
    }

    void guardCatchesEveryException()
    {
        ErrorDisplay::runGuarded([] { throw std::bad_alloc(); });
        QCOMPARE(f->takeError(), QString("Mémoire insuffisante."));
        ErrorDisplay::runGuarded([] { throw std::runtime_error("boom"); });
        QCOMPARE(f->takeError(), QString("boom."));
    }

    void titleFromExecutable_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("exe") << "C:/Tools/Quorvane.exe"
                             << "Quorvane";
        QTest::newRow("upper") << "/opt/bin/QUORVANE"
                               << "Quorvane";
        QTest::newRow("dots") << "/x/quorvane.old.exe"
                              << "quorvane";
    }
    void titleFromExecutable()
    {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ErrorDisplay::titleFromExecutable(path), title);
    }

    // Closing the launcher while a loop pumps ends the application only once the loop is
    // back in the message loop.
    void closeDuringPumpEndsAfterLoop()
    {
        Fiche_principale->show();
        bool loopFinished = false;
        QTimer::singleShot(0, [&] {
            ErrorDisplay::runGuarded([&] {
                QTimer::singleShot(0, Fiche_principale, [] { Fiche_principale->close(); });
                for (int i = 0; i < 5; ++i)
                    Pump::pumpMessages();
                loopFinished = true;
            });
        });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); }); // safety net
        const int result = QApplication::exec();
        if (runningUnderWine())
            QEXPECT_FAIL("",
                         "under Wine an exit() made in a pump nested in a timer's handler "
                         "does not end the main loop, which runs on to the safety net",
                         Abort);
        QCOMPARE(result, 0);
        QVERIFY(loopFinished);
        QVERIFY(!Fiche_principale->isVisible());
    }

    // The real message box and file dialog, closed by a timer.
    void realDialogsSmoke()
    {
        ErrorDisplay::setSink({});
        QString shownText, shownTitle;
        QTimer::singleShot(50, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                shownText = box->text();
                shownTitle = box->windowTitle();
                box->accept();
            }
        });
        ErrorDisplay::showError("Erreur de lecture du flux");
        QCOMPARE(shownText, QString("Erreur de lecture du flux."));
        QCOMPARE(shownTitle, ErrorDisplay::applicationTitle());

        QTimer::singleShot(50, [] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        FileDialog dialog(nullptr, FileDialog::Open);
        QVERIFY(!dialog.execute());
        QCOMPARE(dialog.fileName(), QString());
    }

    // Files dropped on a tool window do what choosing them in its dialog does; anything
    // else dropped, or a drop during a scan, does nothing.
    void dropFilesOnTools()
    {
        auto drop = [](QWidget *target, const QList<QUrl> &urls) {
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                               Qt::NoModifier);
            QApplication::sendEvent(target, &dropped);
            QCoreApplication::processEvents(); // what the drop starts runs once it has ended
            return enter.isAccepted();
        };
        auto local = [](const QString &path) { return QUrl::fromLocalFile(path); };
        const QString mails = f->write("mails.txt", "one a@b\ntwo c@d\n");
        const QString words = f->write("words.txt", "alpha\nbeta\n");

        QVERIFY(drop(FExtraction, {local(mails)}));
        QCOMPARE(FExtraction->ui->ListBox1->items(), (QStringList{"a@b", "c@d"}));
        QCOMPARE(FExtraction->OpenDialog1.fileName(), QDir::toNativeSeparators(mails));

        QVERIFY(drop(Fedittext->ui->Edit1, {local(words)})); // on an edit field too
        QCOMPARE(Fedittext->ui->Memo1->text(), QString("alpha\r\nbeta\r\n"));
        QCOMPARE(Fedittext->ui->Edit3->text(), QDir::toNativeSeparators(words));
        QCOMPARE(Fedittext->ui->Edit1->text(), QString());

        QVERIFY(drop(Fjointure, {local(words), local(mails)}));
        QCOMPARE(Fjointure->ui->ListBox1->items(),
                 (QStringList{QDir::toNativeSeparators(words), QDir::toNativeSeparators(mails)}));

        QVERIFY(drop(Fcoupure, {local(words)}));
        QCOMPARE(Fcoupure->OpenDialog1.fileName(), QDir::toNativeSeparators(words));
        QVERIFY(!Fcoupure->ui->Edit1->text().isEmpty());

        // Not local files: refused, nothing changes.
        QVERIFY(!drop(Fjointure, {QUrl("https://example.org/list.txt")}));
        QVERIFY(!drop(Fjointure, {local(words), QUrl("https://example.org/list.txt")}));
        QCOMPARE(Fjointure->ui->ListBox1->count(), 2);

        // During a scan a drop is refused; the scan goes on alone.
        QByteArray lines;
        for (int i = 0; i < 3000; ++i)
            lines += "x" + QByteArray::number(i) + "@y\n";
        const QString big = f->write("big.txt", lines);
        bool refused = false;
        QTimer::singleShot(0, FExtraction, [&] { refused = !drop(FExtraction, {local(mails)}); });
        answer(big);
        FExtraction->ui->Button4->click();
        QVERIFY(refused);
        QCOMPARE(FExtraction->ui->ListBox1->count(), 2 + 3000);
        QVERIFY(f->errors.isEmpty());
    }

    // Text fits whatever fonts the system has: each label's and check box's box takes its
    // whole text, growing to the right from its place, and the memos and lists draw glyphs
    // that reach above capitals and below the baseline whole.
    void textFitsTheFontInUse()
    {
        for (QWidget *window : {(QWidget *)Fiche_principale, (QWidget *)FExtraction,
                                (QWidget *)Fjointure, (QWidget *)Fcoupure, (QWidget *)Fedittext}) {
            for (const QLabel *label : window->findChildren<QLabel *>())
                if (!label->text().isEmpty())
                    QVERIFY2(
                        QRect(QPoint(), label->size()).contains(QRect(QPoint(), label->sizeHint())),
                        qPrintable(label->text()));
            for (const QCheckBox *box : window->findChildren<QCheckBox *>())
                QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
        }
        QCOMPARE(Fcoupure->ui->Label3->pos(), QPoint(24, 16));

        // The ink of a line as drawn in the box, against the same text drawn with room all
        // round it.
        const QString text = QString::fromUtf8("[{\u00c0\u00d6\u00c5jgy_|}]");
        auto inkHeight = [](const QImage &image) {
            const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
            int top = image.height(), bottom = -1;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (qGray(image.pixel(x, y)) < qGray(background) - 40) {
                        top = qMin(top, y);
                        bottom = y;
                    }
            return bottom - top + 1;
        };
        auto freeInkHeight = [&](const QFont &font) {
            QImage image(400, 120, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPoint(20, 60), text);
            painter.end();
            return inkHeight(image);
        };
        Memo *memo = Fedittext->ui->Memo1;
        memo->setText(text);
        ListBox *list = Fcoupure->ui->ListBox1;
        list->add(text);
        list->flush();
        for (QAbstractScrollArea *box :
             {(QAbstractScrollArea *)memo, (QAbstractScrollArea *)list}) {
            const QImage shown = box->viewport()->grab().toImage();
            QCOMPARE(inkHeight(shown), freeInkHeight(box->font()));
        }
    }

    // The launcher's picture: panels in the face's grey (RGB 105), nothing between the
    // title and the numbered-list icon.
    void launcherPictureGreys()
    {
        const QImage picture(":/pictures/launcher.png");
        QVERIFY(!picture.isNull());
        for (const QPoint inside : {QPoint(30, 420), QPoint(600, 440), QPoint(200, 30)})
            QCOMPARE(picture.pixelColor(inside), QColor(105, 105, 105));
        for (int y = 190; y < 245; ++y)
            for (int x = 12; x < 380; ++x)
                QCOMPARE(picture.pixelColor(x, y), QColor(105, 105, 105));
    }

    // The text-file dialogs of the tools show the encoding list; the plain one does not.
    void textFileDialogsShowEncodings_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<bool>("listed");
        QTest::newRow("Save Emails") << 0 << true;
        QTest::newRow("Join") << 1 << true;
        QTest::newRow("Edit Text Open") << 2 << true;
        QTest::newRow("Edit Text Save") << 3 << true;
        QTest::newRow("Extract Open") << 4 << false;
    }
    void textFileDialogsShowEncodings()
    {
        QFETCH(int, which);
        QFETCH(bool, listed);
        FileDialog *const dialogs[] = {&FExtraction->SaveTextFileDialog1,
                                       &Fjointure->OpenTextFileDialog1,
                                       &Fedittext->OpenTextFileDialog1,
                                       &Fedittext->SaveTextFileDialog1, &FExtraction->OpenDialog1};
        FileDialog *dialog = dialogs[which];
        QStringList items;
        QString label;
        QTimer::singleShot(50, [&] {
            auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!shown)
                return;
            if (auto *list = shown->findChild<QComboBox *>("encodings")) {
                for (int i = 0; i < list->count(); ++i)
                    items << list->itemText(i);
                for (QLabel *l : shown->findChildren<QLabel *>())
                    if (l->buddy() == list)
                        label = l->text();
            }
            shown->reject();
        });
        QVERIFY(!dialog->execute());
        if (!listed) {
            QCOMPARE(items, QStringList());
            return;
        }
        QCOMPARE(items,
                 (QStringList{"ANSI", "ASCII", "Unicode", "Big Endian Unicode", "UTF-8", "UTF-7"}));
        QCOMPARE(label, QString("Encodage :"));
    }
};

QTEST_MAIN(TestLauncher)
#include "tst_launcher.moc"
