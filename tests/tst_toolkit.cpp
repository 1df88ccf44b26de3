#include "toolkit/FileDialog.h"
#include "toolkit/ListBox.h"
#include "toolkit/Memo.h"
#include "toolkit/Pump.h"

#include <QAccessible>
#include <QTemporaryDir>
#include <QtTest>

class TestToolkit : public QObject
{
    Q_OBJECT
private slots:
    void memoAddLine_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("after");
        QTest::newRow("empty text") << "" << QStringList{"a"} << "a\r\n";
        QTest::newRow("ends with break") << "x\r\n" << QStringList{"a", "b"} << "x\r\na\r\nb\r\n";
        QTest::newRow("no final break") << "x" << QStringList{"a", "b"} << "x\r\na\r\nb";
        QTest::newRow("empty line, no break") << "x" << QStringList{"", "b"} << "x\r\n\r\nb\r\n";
        QTest::newRow("empty line after break") << "x\r\n" << QStringList{""} << "x\r\n\r\n";
        QTest::newRow("NUL in first case") << "" << QStringList{QString("a") + QChar(0) + "b", "c"} << "a\r\nc";
        QTest::newRow("NUL at start") << "x" << QStringList{QString(QChar(0)) + "b"} << "x\r\n";
        QTest::newRow("lone CR kept") << "" << QStringList{"a\rb"} << "a\rb\r\n";
    }
    void memoAddLine()
    {
        QFETCH(QString, before);
        QFETCH(QStringList, lines);
        QFETCH(QString, after);
        Memo memo;
        memo.setText(before);
        for (const QString &line : lines)
            memo.addLine(line);
        QCOMPARE(memo.toPlainText().isEmpty(), before.isEmpty()); // nothing shown before a pump
        QCOMPARE(memo.text(), after);
        // Lines added after a user edit follow the edited text.
        memo.setPlainText("edited");
        memo.addLine(u"z");
        QCOMPARE(memo.text(), QString("edited\r\nz"));
    }

    void batchesReachViewAtPump()
    {
        Memo memo;
        ListBox list;
        for (int i = 0; i < 3; ++i) {
            memo.addLine(QString::number(i));
            list.add(QString::number(i));
        }
        QCOMPARE(memo.document()->blockCount(), 1);
        QCOMPARE(list.model()->rowCount(), 0);
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.item(2), QString("2"));
        Pump::pumpMessages();
        QCOMPARE(memo.document()->blockCount(), 4);
        QCOMPARE(list.model()->rowCount(), 3);
        list.clear();
        QCOMPARE(list.count(), 0);
    }

    void listBoxIsAccessible()
    {
        ListBox list;
        list.add("a@b");
        list.flush();
        list.show();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list);
        QVERIFY(iface);
        QVERIFY(iface->childCount() >= 1);
    }

    void dialogKeepsNameOnCancelAndMovesCurrentFolder()
    {
        QTemporaryDir dir;
        FileDialog dialog(nullptr, FileDialog::Open);
        FileDialog::scriptAnswer(dir.filePath("a.txt"));
        QVERIFY(dialog.execute());
        QCOMPARE(dialog.fileName(), dir.filePath("a.txt"));
        QCOMPARE(QDir::currentPath(), dir.path());
        FileDialog::scriptAnswer(std::nullopt);
        QVERIFY(!dialog.execute());
        QCOMPARE(dialog.fileName(), dir.filePath("a.txt"));
        FileDialog::scriptAnswer(QString("b.txt")); // a typed relative name
        QVERIFY(dialog.execute());
        QCOMPARE(dialog.fileName(), dir.filePath("b.txt"));
    }
};

QTEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
