#include "primitives/Errors.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDialog.h"
#include "toolkit/FindBar.h"
#include "toolkit/ListBox.h"
#include "toolkit/Memo.h"
#include "toolkit/Pump.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

class TestToolkit : public QObject
{
    Q_OBJECT
  private slots:
    void lineStoreEdits()
    {
        LineStore store;
        for (int i = 0; i < 10000; ++i)
            store.append(QString::number(i));
        store.replace(5000, u"five");
        store.insertLines(2047, {"ins"});
        store.remove(9000, 500);
        store.appendToLast(u"+");
        store.replace(10, u"жé"); // a character beyond Latin-1 widens its chunk only
        store.append(u"é");
        QCOMPARE(store.line(10), QString("жé"));
        QCOMPARE(store.line(11), QString("11"));
        QCOMPARE(store.line(9501), QString("é"));
        QCOMPARE(store.lineLength(10), 2);
        store.remove(9501, 1);
        QCOMPARE(store.count(), 9501);
        QCOMPARE(store.line(5001), QString("five"));
        QCOMPARE(store.line(2047), QString("ins"));
        QCOMPARE(store.line(2048), QString("2047"));
        QCOMPARE(store.line(9001), QString("9500"));
        QCOMPARE(store.line(9500), QString("9999+"));
        // Many lines in the middle of a chunk: the lines after them follow unchanged.
        QStringList many;
        for (int i = 0; i < 5000; ++i)
            many << "m" + QString::number(i);
        store.insertLines(3000, many);
        QCOMPARE(store.line(2999), QString("2998"));
        QCOMPARE(store.line(3000), QString("m0"));
        QCOMPARE(store.line(7999), QString("m4999"));
        QCOMPARE(store.line(8000), QString("2999"));
        QCOMPARE(store.charactersBefore(3001), store.charactersBefore(3000) + 2);
        store.remove(3000, 5000);
        QCOMPARE(store.line(3000), QString("2999"));
        store.remove(0, 9501);
        QCOMPARE(store.count(), 0);
        QCOMPARE(store.characterCount(), 0);
        store.append(u"x");
        QCOMPARE(store.line(0), QString("x"));
    }

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
        QTest::newRow("NUL in first case")
            << "" << QStringList{QString("a") + QChar(0) + "b", "c"} << "a\r\nc";
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
        QCOMPARE(memo.text(), after);
    }

    void memoSetTextNormalises()
    {
        Memo memo;
        memo.setText(QString("a\rb\nc\r\nd") + QChar(0) + "gone");
        QCOMPARE(memo.text(), QString("a\r\nb\r\nc\r\nd"));
        QCOMPARE(memo.lineCount(), 4);
        memo.clear();
        QCOMPARE(memo.text(), QString());
        QCOMPARE(memo.lineCount(), 1);
    }

    // The memo is filled block by block as the file is decoded: breaks, characters and a
    // NUL that straddle a block's end give the text that one whole decoding gives.
    // Text loaded block by block (1 MiB) against its decoding written out by hand or decoded
    // whole at once; a null expectation is a load that fails.
    void memoLoadAcrossBlocks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const qsizetype block = 1 << 20;
        const QByteArray fill(block - 1, 'a');
        const QString text(block - 1, u'a');
        QTest::newRow("CR LF across") << fill + "\r\nb\rc\n" << text + "\r\nb\rc\n";
        QTest::newRow("CR ends block, then CR") << fill + "\r\rx" << text + "\r\rx";
        QTest::newRow("line across") << "x\n" + fill + "yz\r\n"
                                     << "x\n" + text + "yz\r\n";
        QTest::newRow("UTF-8 across")
            << "\xEF\xBB\xBF" + QByteArray(block - 4, 'a') + "\xE2\x82\xAC\r\n\xC3\xA9"
            << QString(block - 4, u'a') + QString::fromUtf16(u"\u20AC\r\n\u00E9");
        QTest::newRow("UTF-8 four bytes across")
            << "\xEF\xBB\xBF" + QByteArray(block - 5, 'a') + "\xF0\x9F\x98\x80z"
            << QString(block - 5, u'a') + QString::fromUcs4(U"\U0001F600z");
        QTest::newRow("bad UTF-8 tail")
            << "\xEF\xBB\xBF" + QByteArray(block - 4, 'a') + "\xE2\x82" << QString();
        // Code page blocks that decode to their Latin-1 characters go into the memo as bytes,
        // the others decoded: a break and a line across the two kinds.
        const QByteArray high = QByteArray("\xE9").repeated(block - 2);
        const QString highText = QString(u'\u00E9').repeated(block - 2);
        QTest::newRow("bytes, then decoded, CR LF across")
            << "x" + high + "\r\n\x80y\n"
            << "x" + highText + QString::fromUtf16(u"\r\n\u20ACy\n");
        QTest::newRow("decoded, then bytes, CR LF across")
            << "\x80" + high + "\r\n\xE9z" << QString::fromUtf16(u"\u20AC") + highText + "\r\néz";
        QTest::newRow("line from bytes into decoded") << "\n" + high + "ab\x9F\r\n"
                                                      << "\n" + highText + "ab\u0178\r\n";
        QTest::newRow("NUL in second block") << fill + "b\r\nc" + QByteArray(1, 0) + "d\n"
                                             << text + "b\r\nc" + QChar(0) + "d\n";
        // UTF-16: a surrogate pair split by the block edge, then an odd last byte (ignored).
        QByteArray utf16("\xFF\xFE");
        QString utf16Text;
        for (qsizetype i = 0; utf16.size() < block - 2; ++i) {
            utf16.append("a\0", 2);
            utf16Text += u'a';
        }
        utf16.append("\x3D\xD8\x00\xDE\r\0\n\0", 8); // U+1F600, CR LF
        utf16Text += QString::fromUcs4(U"\U0001F600\r\n");
        QTest::newRow("UTF-16 pair across, odd end") << utf16 + "c" << utf16Text;
        QTest::newRow("code page") << QByteArray("\x80\xE9\r\n").repeated(400000)
                                   << QString::fromUtf16(u"\u20AC\u00E9\r\n").repeated(400000);
    }
    void memoLoadAcrossBlocks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QFile file(dir.filePath("text"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        Memo memo;
        memo.setText("kept");
        if (expected.isNull()) {
            QVERIFY_THROWS_EXCEPTION(QuorvaneError, memo.loadFromFile(file.fileName()));
            QCOMPARE(memo.text(), QString("kept")); // a failed load leaves the memo alone
            return;
        }
        memo.loadFromFile(file.fileName());
        Memo reference;
        reference.setText(expected);
        QCOMPARE(memo.lineCount(), reference.lineCount());
        QVERIFY(memo.text() == reference.text());
        // Saved chunk by chunk, it is the whole text saved at once.
        memo.saveToFile(dir.filePath("saved"));
        saveTextFile(dir.filePath("reference"), reference.text(), memo.content().encoding());
        auto contents = [&](const char *name) {
            QFile saved(dir.filePath(name));
            return saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray("unread");
        };
        QVERIFY(contents("saved") == contents("reference"));
        // And it is the file's own bytes where the memo keeps them all (no lone CR or LF,
        // which it turns into CR LF, no NUL, where it cuts a line, no odd byte).
        if (!expected.contains(QRegularExpression("\r(?!\n)|(?<!\r)\n")) &&
            !expected.contains(QChar(0)) && bytes.size() % 2 == 0)
            QVERIFY(contents("saved") == bytes);
    }

    // The memo is edited with the keyboard and the mouse; lines added afterwards follow
    // the edited text.
    void memoEditing()
    {
        Memo memo;
        memo.resize(300, 200);
        memo.show();
        memo.setFocus();
        memo.setText("abc\r\ndef");
        QTest::keyClick(&memo, Qt::Key_End);
        QTest::keyClicks(&memo, "X");
        QCOMPARE(memo.text(), QString("abcX\r\ndef"));
        QTest::keyClick(&memo, Qt::Key_Return);
        QTest::keyClicks(&memo, "new");
        QCOMPARE(memo.text(), QString("abcX\r\nnew\r\ndef"));
        QTest::keyClick(&memo, Qt::Key_Home);
        QTest::keyClick(&memo, Qt::Key_Backspace); // joins with the line above
        QCOMPARE(memo.text(), QString("abcXnew\r\ndef"));
        QTest::keyClick(&memo, Qt::Key_End);
        QTest::keyClick(&memo, Qt::Key_Delete); // joins the line below
        QCOMPARE(memo.text(), QString("abcXnewdef"));
        QTest::keyClick(&memo, Qt::Key_Home);
        QTest::keyClick(&memo, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&memo, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(memo.selectedText(), QString("ab"));
        QTest::keyClicks(&memo, "Z"); // typing replaces the selection
        QCOMPARE(memo.text(), QString("ZcXnewdef"));
        QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(&memo, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&memo, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(memo.text(), QString("ZcXnewdefZcXnewdef"));
        memo.addLine(u"tail");
        QCOMPARE(memo.text(), QString("ZcXnewdefZcXnewdef\r\ntail"));
        // A click puts the cursor on the line under the mouse.
        memo.flush();
        QTest::mouseClick(memo.viewport(), Qt::LeftButton, {},
                          QPoint(5, memo.fontMetrics().height() + 3));
        QCOMPARE(memo.cursorPosition().line, 1);
    }

    void memoWordSelectionAndCommands()
    {
        Memo memo;
        memo.resize(300, 200);
        memo.show();
        memo.setText("hello world");
        const QPoint inWorld = memo.characterRect({0, 8}).center() - memo.viewport()->pos();
        QTest::mouseDClick(memo.viewport(), Qt::LeftButton, {}, inWorld);
        QCOMPARE(memo.selectedText(), QString("world"));
        memo.cut();
        QCOMPARE(memo.text(), QString("hello "));
        memo.selectAll();
        memo.paste();
        QCOMPARE(memo.text(), QString("world"));
        memo.selectAll();
        memo.deleteSelection();
        QCOMPARE(memo.text(), QString());
    }

    void batchesReachViewAtPump()
    {
        Memo memo;
        ListBox list;
        list.resize(100, 100);
        list.show();
        for (int i = 0; i < 3000; ++i) {
            memo.addLine(QString::number(i));
            list.add(QString::number(i));
        }
        QCOMPARE(list.count(), 3000);
        QCOMPARE(list.item(2999), QString("2999"));
        QCOMPARE(list.verticalScrollBar()->maximum(), 0); // scroll range follows at the pump
        QTest::qWait(40); // views catch up at a pump a frame (33 ms) after the last time
        Pump::pumpMessages();
        QVERIFY(list.verticalScrollBar()->maximum() > 2900);
        QCOMPARE(memo.lineCount(), 3001);
        // A click selects the row under the mouse; Ctrl+C copies it.
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          QPoint(5, 2 * list.itemHeight() + 3));
        QCOMPARE(list.currentIndex(), list.verticalScrollBar()->value() + 2);
        QTest::keyClick(&list, Qt::Key_Down);
        QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), list.item(list.currentIndex()));
        list.clear();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.currentIndex(), -1);
    }

    void listBoxSaveBytes()
    {
        QTemporaryDir dir;
        ListBox list;
        list.add(u"a");
        list.add(u"b");
        list.saveToFile(dir.filePath("list"));
        QFile file(dir.filePath("list"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("a\r\nb\r\n"));
    }

    void listBoxIsAccessible()
    {
        ListBox list;
        list.add(u"a@b");
        list.flush();
        list.show();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::List);
        QCOMPARE(iface->childCount(), 1);
        QCOMPARE(iface->child(0)->text(QAccessible::Name), QString("a@b"));
        Memo memo;
        memo.setText("line");
        QAccessibleInterface *memoIface = QAccessible::queryAccessibleInterface(&memo);
        QCOMPARE(memoIface->role(), QAccessible::EditableText);
        QCOMPARE(memoIface->text(QAccessible::Value), QString("line"));
    }

    void memoTextForAccessibilityTools()
    {
        Memo memo;
        memo.resize(300, 200);
        memo.show();
        memo.setText("ab\r\ncd\r\n");
        auto *text = QAccessible::queryAccessibleInterface(&memo)->textInterface();
        QVERIFY(text);
        QCOMPARE(text->characterCount(), 8);
        QCOMPARE(text->text(0, 8), QString("ab\r\ncd\r\n"));
        int start = 0, end = 0;
        QCOMPARE(text->textAtOffset(4, QAccessible::LineBoundary, &start, &end), QString("cd\r\n"));
        QCOMPARE((QPair<int, int>(start, end)), (QPair<int, int>(4, 8)));
        QCOMPARE(text->textBeforeOffset(4, QAccessible::LineBoundary, &start, &end),
                 QString("ab\r\n"));
        QCOMPARE(text->textAfterOffset(0, QAccessible::LineBoundary, &start, &end),
                 QString("cd\r\n"));
        QCOMPARE(text->textAtOffset(1, QAccessible::CharBoundary, &start, &end), QString("b"));
        text->setCursorPosition(5);
        QCOMPARE(memo.cursorPosition().line, 1);
        QCOMPARE(text->cursorPosition(), 5);
        text->setSelection(0, 1, 5);
        QCOMPARE(memo.selectedText(), QString("b\r\nc"));
        QCOMPARE(text->selectionCount(), 1);
        QVERIFY(text->characterRect(1).isValid());

        memo.setText("hello world");
        QCOMPARE(text->textAtOffset(7, QAccessible::WordBoundary, &start, &end), QString("world"));
        QCOMPARE((QPair<int, int>(start, end)), (QPair<int, int>(6, 11)));

        // Offsets in a long memo, across many chunks of the store.
        memo.clear();
        for (int i = 0; i < 300000; ++i)
            memo.addLine(QString::number(i));
        const Memo::Position p{250000, 3};
        const qsizetype offset = memo.offsetOf(p);
        QCOMPARE(memo.positionAt(offset).line, p.line);
        QCOMPARE(memo.positionAt(offset).column, p.column);
        QCOMPARE(text->text(int(offset) - 3, int(offset) + 3), QString("250000"));
    }

#ifdef Q_OS_LINUX
    // The spill file fails to read while the box paints and while its find bar searches:
    // the program goes on, the paint's failure is shown once after the event however often
    // the box repaints, and the search stops as failed.
    void failedReadsInAViewAreShown()
    {
        QStringList shown;
        ErrorDisplay::setSink([&](const QString &message) { shown << message; });
        ListBox list;
        list.resize(300, 200);
        // More than the 16 MiB the cache keeps: the first chunks leave memory.
        const QString item(120, u'x');
        for (int i = 0; i < 200000; ++i)
            list.add(item);
        list.flush();
        // Every spill file of the process reads from now on as a write-only descriptor does.
        const int writeOnly = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        int broken = 0;
        for (int fd = 3; fd < 1024; ++fd) {
            char target[4096];
            const ssize_t n = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)),
                                         target, sizeof target);
            const QByteArray link(target, int(qMax<ssize_t>(n, 0)));
            if (link.contains("/quorvane-") && link.endsWith("(deleted)") &&
                ::dup2(writeOnly, fd) == fd)
                ++broken;
        }
        ::close(writeOnly);
        QVERIFY(broken > 0);
        list.verticalScrollBar()->setValue(0);
        list.grab();
        list.grab();
        QCoreApplication::processEvents();
        QCOMPARE(shown, QStringList({"Erreur de lecture du flux."}));
        FindBar::SliceMilliseconds = 0;
        list.findBar()->field()->setText("no such item");
        list.findBar()->find(false);
        for (int i = 0; i < 100 && list.findBar()->status() != "Search failed"; ++i)
            QTest::qWait(5);
        QCOMPARE(list.findBar()->status(), QString("Search failed"));
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), 2);
        ErrorDisplay::setSink({});
    }
#endif

    void dialogKeepsNameOnCancelAndMovesCurrentFolder()
    {
        QTemporaryDir dir;
        FileDialog dialog(nullptr, FileDialog::Open);
        FileDialog::scriptAnswer(dir.filePath("a.txt"));
        QVERIFY(dialog.execute());
        QCOMPARE(dialog.fileName(), QDir::toNativeSeparators(dir.filePath("a.txt")));
        QCOMPARE(QDir::currentPath(), dir.path());
        FileDialog::scriptAnswer(std::nullopt);
        QVERIFY(!dialog.execute());
        QCOMPARE(dialog.fileName(), QDir::toNativeSeparators(dir.filePath("a.txt")));
        FileDialog::scriptAnswer(QString("b.txt")); // a typed relative name
        QVERIFY(dialog.execute());
        QCOMPARE(dialog.fileName(), QDir::toNativeSeparators(dir.filePath("b.txt")));
    }
};

QTEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
