#include "FileChange.h"
#include "model/LineStore.h"
#include "model/MemoText.h"
#include "model/TextSearch.h"
#include "primitives/Errors.h"
#include "primitives/LineReader.h"
#include "primitives/SourceFile.h"

#include <QTemporaryDir>

#include <QRandomGenerator>
#include <QtTest>
#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

// Everything the store holds, read back line by line and through its save.
void compareWith(const LineStore &store, const QStringList &expected)
{
    QCOMPARE(store.count(), expected.size());
    qsizetype characters = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(store.line(i), expected[i]);
        QCOMPARE(store.charactersBefore(i), characters);
        QCOMPARE(store.lineAtOffset(characters + 2 * i, 2), i);
        characters += expected[i].size();
    }
    QCOMPARE(store.characterCount(), characters);
    struct Gather : TextWriter
    {
        mutable QString text;
        void operator()(QStringView piece) const override { text += piece; }
        void operator()(QLatin1StringView piece) const override { text += piece; }
        void systemCodePageBytes(QByteArrayView bytes) const override
        {
            text += decodeSystemCodePage(bytes);
        }
    } gathered;
    store.write(gathered, true);
    QCOMPARE(gathered.text, expected.isEmpty() ? QString() : expected.join("\r\n") + "\r\n");
}

// Lines of several kinds: ASCII, Latin-1, beyond Latin-1, a surrogate pair, empty.
QStringList sourceLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QString line = QStringLiteral("line %1 ").arg(i).repeated(1 + i % 3);
        if (i % 997 == 5)
            line += QStringLiteral("é à");
        if (i % 4099 == 7)
            line += QChar(0x0436);
        if (i % 5003 == 9)
            line += QStringLiteral("\U0001F600");
        if (i % 101 == 3)
            line.clear();
        lines << line;
    }
    return lines;
}

// The file's lines, read as a scan reads them, added to a store that refers to the file
// and keeps one chunk in memory; the lines expected of it (with its empty last line).
QStringList addFromSource(LineStore &store, const QString &fileName, const QStringList &lines)
{
    store.setCacheLimits(1, 1 << 16);
    store.append(u"");
    const auto file = SourceFile::open(fileName);
    Q_ASSERT(file);
    LineReader reader(fileName);
    while (!reader.EndOfStream())
        store.completeLastFromSource(reader.ReadLineView(), file, reader);
    return lines + QStringList{QString()};
}

void writeFile(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

// The text models: the line store keeps a bounded cache of chunks in memory and the rest
// in a spill file; the memo's text maps positions to offsets over it.
class TestModel : public QObject
{
    Q_OBJECT
  private slots:
    // The search against QString::indexOf / lastIndexOf line by line, on 5000 lines in three
    // chunks with a cache of one (the others spilled), Latin-1 and UTF-16 chunks, run to the
    // end at once and one chunk at a time.
    void searchAgainstIndexOf_data()
    {
        QTest::addColumn<QString>("needle");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("backward");
        QTest::addColumn<qsizetype>("line");
        QTest::addColumn<qsizetype>("column");
        const int c = LineStore::ChunkLines;
        auto row = [](const char *name, const QString &needle, bool cs, bool back, qsizetype line,
                      qsizetype column) {
            QTest::newRow(name) << needle << cs << back << line << column;
        };
        row("first byte common", "key", true, false, 0, 0);
        row("from mid-line", "key", true, false, 10, 3);
        row("backward", "key", true, true, c + 1952, 2);
        row("last line of the first chunk", "edge-of-chunk", true, false, 100, 0);
        row("first line of the second chunk", "after-edge", true, false, 100, 0);
        row("backward to a chunk edge", "edge-of-chunk", true, true, c + 952, 0);
        row("in a spilled chunk, wraps", "early-line", true, false, 2 * c + 404, 0);
        row("backward wraps", "late-line", true, true, 10, 0);
        row("not across a line break", "tailhead", true, false, 0, 0);
        row("case folded, ASCII", "KEY", false, false, 0, 0);
        row("case folded, Latin-1", "ÉCOLE", false, false, 0, 0);
        row("case folded, Greek in Latin-1 text", "μικρό", false, false, 0, 0);
        row("case folded, backward", "ÉCOLE", false, true, 2 * c + c / 2 - 1, 5);
        row("exact case only", "École", true, false, 0, 0);
        row("Greek Mu folds to the micro sign", "Μ-SIGN", false, false, 0, 0);
        row("long s folds to s", "ſtop", false, false, 0, 0);
        row("Y with diaeresis folds", "ŸES", false, false, 0, 0);
        row("not Latin-1, in UTF-16 chunk", "Ωmega", true, false, 0, 0);
        row("no match", "nowhere-at-all", true, false, 1234, 5);
        row("no match folded", "nowhere-at-all", false, true, 1234, 5);
        row("one character", "#", true, false, c + 452, 0);
        row("two characters", "#!", true, false, c + 452, 0);
        row("longer than sixteen", "a-long-needle-over-sixteen", true, false, 0, 0);
        row("past the end", "key", true, false, 99999, 0);
        row("backward from past the end", "key", true, true, 99999, 0);
        row("column past the line", "key", true, false, 7, 999);
    }
    void searchAgainstIndexOf()
    {
        QFETCH(QString, needle);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, backward);
        QFETCH(qsizetype, line);
        QFETCH(qsizetype, column);
        // Two chunks and a half, with marks at the first chunk's edge.
        const int c = LineStore::ChunkLines;
        QStringList lines;
        for (int i = 0; i < 2 * c + c / 2; ++i) {
            QString text = QString("line %1 ").arg(i);
            if (i % 97 == 0)
                text += "a key here";
            if (i % 331 == 0)
                text += " Key école ÉCOLE";
            if (i == c - 1)
                text += " edge-of-chunk";
            if (i == c)
                text = "after-edge " + text;
            if (i == 5)
                text += " early-line";
            if (i == 2 * c + c / 2 - 10)
                text += " late-line";
            if (i == 300)
                text += " tail";
            if (i == 301)
                text = "head " + text;
            if (i == 1500)
                text += " µ-sign ÿes Stop";
            if (i == c + 552)
                text += " #! a-long-needle-over-sixteen";
            if (i == c + 1052)
                text += " ΜΙΚΡΌ Ωmega"; // this chunk goes UTF-16
            lines << text;
        }
        lines[300] += "tail"; // "tailhead" only across the break
        lines[301].prepend("head");
        LineStore store;
        store.setCacheLimits(1, 1);
        for (const QString &text : std::as_const(lines))
            store.append(text);
        QVERIFY(store.chunkCount() >= 3);
        QVERIFY(store.residentChunkCount() < store.chunkCount());

        // The reference: line by line, round from the other end.
        const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
        const qsizetype n = lines.size();
        TextSearch::Match expected;
        bool expectedWrap = false;
        auto look = [&](qsizetype i, qsizetype from, bool last, bool wrapped) {
            const qsizetype p =
                last ? lines[i].lastIndexOf(needle, from, cs) : lines[i].indexOf(needle, from, cs);
            if (p < 0 || expected.line >= 0)
                return;
            expected = {i, p, needle.size()};
            expectedWrap = wrapped;
        };
        if (!backward) {
            const qsizetype start = qMin(line, n);
            for (qsizetype i = start; i < n; ++i)
                look(i, i == line ? column : 0, false, false);
            for (qsizetype i = 0; i <= qMin(start, n - 1); ++i)
                look(i, 0, false, true);
        } else {
            const qsizetype start = qMin(line, n - 1);
            for (qsizetype i = start; i >= 0; --i)
                if (i != line || column > 0)
                    look(i, i == line ? column - 1 : -1, true, false);
            for (qsizetype i = n - 1; i >= start; --i)
                look(i, -1, true, true);
        }
        for (const bool sliced : {false, true}) {
            TextSearch search(store, needle, cs, backward, line, column);
            TextSearch::State state;
            int slices = 0;
            do {
                state = search.run(sliced ? 0 : 100000);
                ++slices;
            } while (state == TextSearch::State::Searching);
            QCOMPARE(state,
                     expected.line >= 0 ? TextSearch::State::Found : TextSearch::State::NotFound);
            QCOMPARE(search.match().line, expected.line);
            if (expected.line >= 0) {
                QCOMPARE(search.match().column, expected.column);
                QCOMPARE(search.match().length, expected.length);
                QCOMPARE(search.wrapped(), expectedWrap);
            }
            if (sliced && expected.line < 0)
                QVERIFY(slices >= 3); // one chunk a slice
        }
    }

    // Random appends and edits with a cache of one chunk, against a plain list.
    void editsOfSpilledChunks_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::newRow("1") << 1u;
        QTest::newRow("2") << 2u;
        QTest::newRow("3") << 3u;
    }
    void editsOfSpilledChunks()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        LineStore store;
        store.setCacheLimits(1, 1 << 18);
        QStringList expected;
        auto someLine = [&] {
            QString line = QString::number(random.bounded(100000)).repeated(random.bounded(5));
            if (random.bounded(20) == 0)
                line += QChar(0x0436); // beyond Latin-1: its chunk widens
            return line;
        };
        for (int i = 0; i < 10 * LineStore::ChunkLines; ++i) {
            const QString line = someLine();
            store.append(line);
            expected << line;
        }
        QVERIFY(store.chunkCount() > 5);
        QVERIFY(store.residentChunkCount() <= 2); // the last one and one more
        for (int step = 0; step < 300; ++step) {
            const qsizetype at = random.bounded(int(expected.size()));
            switch (random.bounded(5)) {
            case 0: {
                const QString line = someLine();
                store.replace(at, line);
                expected[at] = line;
                break;
            }
            case 1: {
                QStringList lines;
                for (int k = random.bounded(3000); k > 0; --k)
                    lines << someLine();
                store.insertLines(at, lines);
                expected = expected.first(at) + lines + expected.sliced(at);
                break;
            }
            case 2: {
                const qsizetype n = qMin<qsizetype>(random.bounded(2500), expected.size() - at);
                store.remove(at, n);
                expected.remove(at, n);
                break;
            }
            case 3:
                store.appendToLast(u"+");
                expected.last() += "+";
                break;
            default:
                store.completeLast(u"end");
                expected.last() += "end";
                expected << QString();
            }
            if (expected.isEmpty()) {
                store.append(u"x");
                expected << "x";
            }
            QVERIFY(store.residentChunkCount() <= 3);
            const qsizetype probe = random.bounded(int(expected.size()));
            QCOMPARE(store.line(probe), expected[probe]);
        }
        compareWith(store, expected);
        // A screen of lines in one call, across chunks, cut to a width.
        const qsizetype first = expected.size() / 2;
        const QStringList screen = store.lines(first, 3000, 4);
        QCOMPARE(screen.size(), qMin<qsizetype>(3000, expected.size() - first));
        for (qsizetype k = 0; k < screen.size(); ++k)
            QCOMPARE(screen[k], expected[first + k].left(4));
        store.clear();
        compareWith(store, {});
    }

    // Lines added one at a time in the middle (Enter typed again and again) and taken out
    // again one at a time leave no trail of small chunks.
    void typedLinesKeepChunksFew()
    {
        LineStore store;
        QStringList expected;
        for (int i = 0; i < 3 * LineStore::ChunkLines; ++i) {
            store.append(QString::number(i));
            expected << QString::number(i);
        }
        const qsizetype before = store.chunkCount();
        const qsizetype at = LineStore::ChunkLines + 10;
        for (int i = 0; i < 2000; ++i) {
            store.insertLines(at + i, {QStringLiteral("typed")});
            expected.insert(at + i, QStringLiteral("typed"));
        }
        QVERIFY2(store.chunkCount() <= before + 2, qPrintable(QString::number(store.chunkCount())));
        for (int i = 0; i < 2000; ++i) {
            store.remove(at, 1);
            expected.remove(at);
        }
        QVERIFY2(store.chunkCount() <= before + 1, qPrintable(QString::number(store.chunkCount())));
        compareWith(store, expected);
    }

    // Lines go into a Latin-1 chunk in blocks of characters (eight, four, the rest): at every
    // length, a character that is not Latin-1 or is a NUL at any place is found, and every
    // other character is kept.
    void narrowLinesOfEveryLength_data()
    {
        QTest::addColumn<QChar>("odd");
        QTest::addColumn<bool>("latin1");
        QTest::newRow("é") << QChar(0x00E9) << true;
        QTest::newRow("ÿ") << QChar(0x00FF) << true;
        QTest::newRow("Ā") << QChar(0x0100) << false;
        QTest::newRow("Ω") << QChar(0x03A9) << false;
        QTest::newRow("NUL") << QChar(0) << true;
    }
    void narrowLinesOfEveryLength()
    {
        QFETCH(QChar, odd);
        QFETCH(bool, latin1);
        for (int n = 1; n <= 20; ++n) {
            for (int at = 0; at < n; ++at) {
                QString line;
                for (int k = 0; k < n; ++k)
                    line += QChar(u'a' + k);
                line[at] = odd;
                // Each line after a Latin-1 one, in a chunk of their own.
                LineStore store, decorated;
                store.append(u"x");
                store.append(line);
                QCOMPARE(store.line(1), line);
                // Taken in one step only when every part is Latin-1 and holds no NUL.
                decorated.append(u"x");
                decorated.append(u"");
                const bool narrow = decorated.completeLastIfNarrow(u"<", line, u">");
                QCOMPARE(narrow, latin1 && !odd.isNull());
                if (!narrow)
                    decorated.completeLast(u"<", line, u">");
                QCOMPARE(decorated.line(1), u'<' + line + u'>');
            }
        }
    }

    // A line longer than a chunk holds goes to the spill file whole and is read back.
    void hugeLines()
    {
        LineStore store;
        const QString narrow = QString("ab").repeated(700000);
        const QString wide = QString(QChar(0x0436)).repeated(1200000);
        store.append(u"first");
        store.append(u"");
        store.appendToLast(narrow); // in place of the empty last line
        store.append(wide);
        store.append(u"after");
        QCOMPARE(store.line(2, 5), wide.first(5));
        compareWith(store, {"first", narrow, wide, "after"});
        store.replace(1, u"short");
        compareWith(store, {"first", "short", wide, "after"});
    }

    // Offsets and positions agree over a text whose chunks are mostly spilled, and edits
    // across lines keep them in step with the whole text.
    void memoTextOffsets()
    {
        MemoText text;
        QString whole;
        for (int i = 0; i < 200000; ++i) {
            const QString line = "line " + QString::number(i);
            text.addLine(line);
            whole += line + "\r\n";
        }
        QCOMPARE(text.characterCount(), whole.size());
        for (const MemoText::Position p :
             {MemoText::Position{0, 0}, MemoText::Position{0, 3}, MemoText::Position{99999, 2},
              MemoText::Position{199999, 11}, MemoText::Position{200000, 0}}) {
            const qsizetype offset = text.offsetOf(p);
            QCOMPARE(text.positionAt(offset), p);
            QCOMPARE(text.textBetween({0, 0}, p), whole.first(offset));
        }
        const MemoText::Position from = text.positionAt(100), to = text.positionAt(2000000);
        const qsizetype cut = text.offsetOf(to);
        text.remove(from, to);
        whole.remove(100, cut - 100);
        const MemoText::Position end = text.insert(from, u"a\r\nb\nc");
        whole.insert(100, "a\r\nb\r\nc");
        QCOMPARE(text.offsetOf(end), 100 + 7);
        QVERIFY(text.text() == whole);
        QCOMPARE(text.endPosition(), (MemoText::Position{text.lineCount() - 1, 0}));
    }

    // A load that fails leaves the text and keeps the recorded encoding; a good one
    // replaces the text and saves back in the same encoding.
    void memoTextLoadAndSave()
    {
        QTemporaryDir dir;
        auto write = [&](const char *name, const QByteArray &bytes) -> QString {
            QFile file(dir.filePath(name));
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            return file.fileName();
        };
        MemoText text;
        text.setText(u"kept");
        QVERIFY_THROWS_EXCEPTION(QuorvaneError,
                                 text.loadFromFile(write("bad", "\xEF\xBB\xBFok\xFF")));
        QCOMPARE(text.text(), QString("kept"));
        QCOMPARE(text.encoding(), TextEncoding::Utf8);
        text.loadFromFile(write("good", QByteArray("\xFF\xFE"
                                                   "a\0\r\0\n\0b\0",
                                                   10)));
        QCOMPARE(text.text(), QString("a\r\nb"));
        text.addLine(u"c");
        text.saveToFile(dir.filePath("saved"));
        QFile saved(dir.filePath("saved"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("\xFF\xFE"
                                             "a\0\r\0\n\0b\0\r\0\n\0c\0",
                                             16));
    }

    // Lines read from a file are kept as references to its bytes: none of them is written
    // to the spill file, and every one reads back as it was, whatever the encoding and the
    // line ends (a CR LF may straddle the reader's blocks).
    void sourceChunksReadBack_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("breaks");
        QTest::newRow("ASCII, CR LF") << "ASCII"
                                      << "\r\n";
        QTest::newRow("UTF-8, LF") << "UTF-8"
                                   << "\n";
        QTest::newRow("UTF-8 with its mark, CR LF") << "UTF-8 BOM"
                                                    << "\r\n";
        QTest::newRow("UTF-8, CR") << "UTF-8"
                                   << "\r";
        QTest::newRow("UTF-16LE, CR LF") << "UTF-16LE"
                                         << "\r\n";
        QTest::newRow("UTF-16BE, LF") << "UTF-16BE"
                                      << "\n";
    }
    void sourceChunksReadBack()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, breaks);
        QStringList lines = sourceLines(6 * LineStore::ChunkLines + 17);
        if (encoding == "ASCII") { // bytes that are their own text
            for (QString &line : lines)
                for (QChar &c : line)
                    c = c.unicode() < 0x80 ? c : QChar(u'?');
            encoding = "UTF-8";
        }
        const QString text = lines.join(breaks) + breaks;
        QByteArray bytes;
        if (encoding.startsWith("UTF-8"))
            bytes = (encoding.endsWith("BOM") ? QByteArray("\xEF\xBB\xBF") : QByteArray()) +
                    text.toUtf8();
        for (const QChar c : text) { // UTF-16 with its mark
            if (encoding == "UTF-16LE")
                bytes += QByteArray(1, char(c.unicode() & 0xFF)) + char(c.unicode() >> 8);
            else if (encoding == "UTF-16BE")
                bytes += QByteArray(1, char(c.unicode() >> 8)) + char(c.unicode() & 0xFF);
        }
        if (encoding == "UTF-16LE")
            bytes.prepend("\xFF\xFE");
        if (encoding == "UTF-16BE")
            bytes.prepend("\xFE\xFF");
        QTemporaryDir dir;
        const QString name = dir.filePath("source.txt");
        writeFile(name, bytes);
        LineStore store;
        const QStringList expected = addFromSource(store, name, lines);
        QVERIFY(store.chunkCount() >= 6);
        compareWith(store, expected);
        QCOMPARE(store.spilledBytes(), 0);
        // A whole-file load the same way (a file without a mark read in the code page), in
        // pieces of a megabyte.
        MemoText memo;
        memo.setCacheLimits(1, 1 << 16);
        memo.loadFromFile(name);
        const QStringList loaded = bytes.startsWith("\xEF\xBB\xBF") || encoding != "UTF-8"
                                       ? lines + QStringList{QString()}
                                       : decodeSystemCodePage(bytes).split(breaks);
        compareWith(memo.lines(), loaded);
        QCOMPARE(memo.lines().spilledBytes(), 0);
        // An edited chunk's lines are its own from then on: it is spilled, and reads back.
        store.replace(LineStore::ChunkLines + 3, u"edited");
        QStringList edited = expected;
        edited[LineStore::ChunkLines + 3] = "edited";
        compareWith(store, edited);
        QVERIFY(store.spilledBytes() > 0);
    }

    // A load cuts lines as they come whatever falls at the edge of its pieces of a megabyte
    // (a CR LF pair, a lone CR), whatever their length (empty, longer than a chunk takes
    // from the file, longer than a piece), and pieces of the code page beside Latin-1 ones;
    // lines read again from the file are the same.
    void loadCutsLinesAsTheyCome()
    {
        constexpr qsizetype Piece = 1 << 20;
        QRandomGenerator random(29);
        QByteArray bytes;
        const char *const breaks[] = {"\n", "\r\n", "\r"};
        auto put = [&](const QByteArray &line) {
            bytes += line;
            bytes += breaks[random.bounded(3)];
        };
        // Short lines up to a little before end, then one that ends there with breaks.
        auto shortLinesUpTo = [&](qsizetype end, const char *breaksThere, bool codePage) {
            while (bytes.size() < end - 64) {
                if (random.bounded(100) == 0) // Latin-1, or a byte of the code page that is not
                    put(codePage ? "\x80uro" : "caf\xE9");
                else
                    put(QByteArray(random.bounded(24), char('a' + random.bounded(26))));
            }
            bytes += QByteArray(end - bytes.size(), 'e') + breaksThere;
        };
        shortLinesUpTo(Piece - 1, "\r\n", false);      // a CR LF pair across the first edge
        shortLinesUpTo(2 * Piece - 1, "\rr\n", false); // a lone CR at the second
        put(QByteArray(1500000, 'L'));                 // longer than a piece
        shortLinesUpTo(4 * Piece, "\n", true);
        put(QByteArray(600000, 'l')); // longer than a chunk takes from the file
        shortLinesUpTo(5 * Piece, "", false);
        QTemporaryDir dir;
        const QString name = dir.filePath("lines.txt");
        writeFile(name, bytes);
        const QStringList expected =
            decodeSystemCodePage(bytes).split(QRegularExpression("\r\n|\r|\n"));
        MemoText memo;
        memo.setCacheLimits(2, 1 << 16);
        memo.loadFromFile(name);
        compareWith(memo.lines(), expected);
    }

    // The items of a line longer than a stretch may be (more than 16 MiB) keep their text:
    // a chunk of them is not read again from the whole line.
    void itemsOfAVeryLongLine()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath("long.txt");
        QByteArray line;
        QStringList items;
        for (int i = 0; line.size() < (17 << 20); ++i) {
            const QByteArray item = "a" + QByteArray::number(i) + "@b";
            line += item + QByteArray(200, ' ');
            items << QString::fromLatin1(item);
        }
        writeFile(name, "first@line\n" + line + "\nlast@line\n");
        items = QStringList{"first@line"} + items + QStringList{"last@line"};
        const auto itemsOf = [](QStringView text, const std::function<void(QStringView)> &take) {
            for (const QStringView word : text.split(u' ', Qt::SkipEmptyParts))
                if (word.contains(u'@'))
                    take(word);
        };
        LineStore store;
        store.setCacheLimits(1, 1 << 16);
        const auto file = SourceFile::open(name);
        LineReader reader(name);
        while (!reader.EndOfStream())
            itemsOf(reader.ReadLineView(),
                    [&](QStringView item) { store.appendFromSource(item, file, reader, itemsOf); });
        compareWith(store, items);
        QVERIFY(store.spilledBytes() > 0);
    }

    // Lines decorated with a prefix and a suffix refer to the file too, a chunk for the lines
    // of one prefix and suffix: the one where they change keeps its text.
    void decoratedSourceLines()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath("source.txt");
        const QStringList lines = sourceLines(5 * LineStore::ChunkLines);
        writeFile(name, (lines.join('\n') + '\n').toUtf8());
        LineStore store;
        store.setCacheLimits(1, 1 << 16);
        store.append(u"");
        const auto file = SourceFile::open(name);
        LineReader reader(name);
        QStringList expected;
        for (int i = 0; !reader.EndOfStream(); ++i) {
            const QString prefix = i < 20000 ? "<" : "ж[", suffix = i < 20000 ? ">" : "]";
            store.completeLastFromSource(prefix, reader.ReadLineView(), suffix, file, reader);
            expected << prefix + lines[i] + suffix;
        }
        expected << QString();
        compareWith(store, expected);
        QVERIFY(store.spilledBytes() > 0);
        QVERIFY(store.spilledBytes() < 2 * LineStore::ChunkChars);
    }

    // Items found in a file's lines (here its words holding "@", several to a line, none in
    // some) are kept as references too, a chunk starting and ending inside a line.
    void sourceItemsReadBack()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath("source.txt");
        QStringList lines, items;
        for (int i = 0; i < 5 * LineStore::ChunkLines; ++i) {
            QStringList words;
            for (int k = 0; k < i % 4; ++k)
                words << QStringLiteral("w%1@%2").arg(i).arg(k) << "plain";
            if (i % 7 == 0)
                words << QStringLiteral("ж%1@wide").arg(i);
            for (const QString &word : words)
                if (word.contains('@'))
                    items << word;
            lines << words.join(' ');
        }
        writeFile(name, (lines.join("\r\n") + "\r\n").toUtf8());
        const auto itemsOf = [](QStringView line, const std::function<void(QStringView)> &take) {
            for (const QStringView word : line.split(u' '))
                if (word.contains(u'@'))
                    take(word);
        };
        LineStore store;
        store.setCacheLimits(1, 1 << 16);
        for (int pass = 0; pass < 2; ++pass) { // a second read of the file adds to the first
            const auto file = SourceFile::open(name);
            LineReader reader(name);
            while (!reader.EndOfStream())
                itemsOf(reader.ReadLineView(), [&](QStringView item) {
                    store.appendFromSource(item, file, reader, itemsOf);
                });
        }
        QVERIFY(store.chunkCount() > 3);
        compareWith(store, items + items);
        // Only the chunks under way when the first read ended keep their text.
        QVERIFY(store.spilledBytes() < 2 * LineStore::ChunkChars);
    }

    // A file changed after its lines were read never shows, finds or saves other text: a
    // line reads as it was, or reading it fails with the read error; a save fails and leaves
    // its target as it was.
    void changedSourceIsNeverShown_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("mustFail");
        QTest::newRow("a byte changed in place, same size and time") << "byte" << true;
        QTest::newRow("shortened") << "shortened" << true;
        QTest::newRow("lengthened") << "lengthened" << false;
#if defined(Q_OS_UNIX)
        // The file stays open: its old bytes are still there under no name or another.
        QTest::newRow("replaced by a rename") << "renamed over" << false;
        QTest::newRow("deleted") << "deleted" << false;
#endif
    }
    void changedSourceIsNeverShown()
    {
        QFETCH(QString, change);
        QFETCH(bool, mustFail);
        QTemporaryDir dir;
        const QString name = dir.filePath("source.txt");
        const QStringList lines = sourceLines(4 * LineStore::ChunkLines);
        const QByteArray bytes = (lines.join('\n') + '\n').toUtf8();
        writeFile(name, bytes);
        MemoText saved;
        saved.setText(u"old target");
        const QString target = dir.filePath("target.txt");
        saved.saveToFile(target);
        LineStore store;
        const QStringList expected = addFromSource(store, name, lines);
        store.line(0); // the first chunks leave memory
        QVERIFY(changeFile(name, change, bytes.size() / 2));
        int failed = 0;
        for (qsizetype i = 0; i < expected.size(); i += 61) { // a failed chunk fails each time
            try {
                QCOMPARE(store.line(i), expected[i]);
            } catch (const QuorvaneError &error) {
                QCOMPARE(error.message(), Errors::readError().message());
                ++failed;
            }
        }
        // A search reads chunk by chunk: the same.
        LineStore::ChunkText chunk;
        for (qsizetype i = 0; i < expected.size(); i += LineStore::ChunkLines) {
            try {
                store.readChunkOf(i, chunk);
                for (qsizetype k = 0; k < chunk.lineCount(); ++k) {
                    const qsizetype from = chunk.start(k), n = chunk.ends[size_t(k)] - from;
                    QCOMPARE(chunk.isWide ? chunk.wide.mid(from, n)
                                          : QString::fromLatin1(chunk.narrow.mid(from, n)),
                             expected[chunk.firstLine + k]);
                }
            } catch (const QuorvaneError &) {
                ++failed;
            }
        }
        QCOMPARE(failed > 0, mustFail);
        // A save that meets the change fails before it replaces its target.
        bool saveFailed = false;
        try {
            saveTextFile(target, TextEncoding::Utf8,
                         [&](const TextWriter &write) { store.write(write, false); });
        } catch (const QuorvaneError &) {
            saveFailed = true;
        }
        QCOMPARE(saveFailed, mustFail);
        if (mustFail) {
            MemoText after;
            after.loadFromFile(target);
            QCOMPARE(after.text(), QString("old target"));
        }
    }

#if defined(Q_OS_UNIX)
    // When the spill file cannot be written the chunks stay in memory.
    void spillFailureKeepsChunks()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        LineStore store;
        store.setCacheLimits(1, 1 << 12);
        QStringList expected;
        for (int i = 0; i < 10 * LineStore::ChunkLines; ++i) {
            expected << QString::number(i);
            store.append(expected.last());
        }
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(store.residentChunkCount() > 3);
        compareWith(store, expected);
    }
#endif
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
