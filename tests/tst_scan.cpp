#include "primitives/Scan.h"

#include <QRandomGenerator>
#include <QtTest>

#include <stdexcept>
#include <string>
#include <vector>

// The loops of Scan against plain references written here, and the two twins of each loop
// against each other, on texts of every short length with the characters they look for at
// every place, around the 8-, 16- and 64-unit blocks the loops take.
class TstScan : public QObject
{
    Q_OBJECT

    using Text = std::u16string;

    // Texts drawn from alphabet: every length up to 140 a few times over, then the same
    // lengths with one character of the alphabet's first at each place in plain letters.
    static std::vector<Text> texts(const Text &alphabet)
    {
        QRandomGenerator random(42);
        std::vector<Text> out;
        for (int length = 0; length <= 140; ++length)
            for (int k = 0; k < 3; ++k) {
                Text t(size_t(length), u'a');
                for (auto &c : t)
                    c = alphabet[random.bounded(int(alphabet.size()))];
                out.push_back(t);
            }
        for (int length = 1; length <= 72; ++length)
            for (int at = 0; at < length; ++at) {
                Text t(size_t(length), u'x');
                t[size_t(at)] = alphabet[0];
                out.push_back(t);
            }
        return out;
    }

    // The twins of a loop give the same result; with one twin, that result.
    template <typename Loop> static auto twins(Loop loop)
    {
        const auto plain = loop(std::integral_constant<Scan::Twin, Scan::Twin::Plain>());
        if constexpr (Scan::HasVector)
            if (loop(std::integral_constant<Scan::Twin, Scan::Twin::Vector>()) != plain)
                throw std::runtime_error("the twins differ");
        return plain;
    }

    static bool isBreak(char16_t c) { return c == u'\n' || c == u'\r'; }
    static bool isControl(char16_t c) { return c >= 1 && c <= 32; }

  private slots:
    void loops_data()
    {
        QTest::addColumn<QString>("alphabet");
        QTest::newRow("breaks") << QStringLiteral("\n\rab\r");
        QTest::newRow("addresses") << QStringLiteral("@\"a.b") + QChar(0) + QStringLiteral("@");
        QTest::newRow("separators") << QStringLiteral(" a\tb") + QChar(0) + QChar(0x100) +
                                           QChar(0x21) + QChar(0xD83D) + QChar(0xDE00);
        QTest::newRow("narrowing") << QString(QChar(0)) + QChar(0x7F) + QChar(0x80) + QChar(0xFF) +
                                          QChar(0x100) + QChar(0xFF80) + QStringLiteral("az");
    }

    void loops()
    {
        QFETCH(QString, alphabet);
        for (const Text &t : texts(alphabet.toStdU16String())) {
            const qsizetype n = qsizetype(t.size());
            const char16_t *s = t.data();
            const QByteArray narrowed = QStringView(t).toLatin1();
            const char *b = narrowed.constData();
            const QByteArray context = QStringView(t).toUtf8().toPercentEncoding();

            // The breaks, 64 units at a time, and where each line's next one starts.
            std::vector<qsizetype> expected, wide, bytes;
            for (qsizetype i = 0; i < n; ++i)
                if (isBreak(s[i]))
                    expected.push_back(i);
            Scan::Breaks<char16_t> wideBreaks(s, n);
            Scan::Breaks<char> byteBreaks(b, n);
            for (qsizetype i = 0; (i = wideBreaks.next(i)) < n; ++i)
                wide.push_back(i);
            for (qsizetype i = 0; (i = byteBreaks.next(i)) < n; ++i)
                bytes.push_back(i);
            QVERIFY2(wide == expected && bytes == expected, context);
            for (qsizetype end : expected) {
                const bool pair = s[end] == u'\r' && end + 1 < n && s[end + 1] == u'\n';
                QCOMPARE(wideBreaks.after(end), end + (pair ? 2 : 1));
            }
            if (n >= 64)
                for (qsizetype at = 0; at + 64 <= n; at += 7) {
                    const auto marks = twins([&](auto twin) {
                        return std::pair(Scan::breakMarks<decltype(twin)::value>(s + at),
                                         Scan::breakMarks<decltype(twin)::value>(b + at));
                    });
                    QCOMPARE(marks.first, marks.second);
                }

            // NUL, "@" and '"'.
            Scan::AtMarks at{n, -1, false};
            for (qsizetype i = 0; i < n; ++i) {
                if (s[i] == 0) {
                    at.length = i;
                    break;
                }
                if (s[i] == u'@' && at.firstAt < 0)
                    at.firstAt = i;
                at.hasQuote = at.hasQuote || s[i] == u'"';
            }
            const auto marks = twins([&](auto twin) {
                const Scan::AtMarks m = Scan::atMarks<decltype(twin)::value>(s, n);
                return std::tuple(m.length, m.firstAt, m.hasQuote);
            });
            QVERIFY2(marks == std::tuple(at.length, at.firstAt, at.hasQuote), context);
            QCOMPARE(Scan::nulIndex(s, n), at.length);

            // Separators forwards and backwards from every place.
            for (qsizetype from = 0; from <= n; ++from) {
                qsizetype next = from, after = from;
                while (next < n && !isControl(s[next]))
                    ++next;
                while (after > 0 && !isControl(s[after - 1]))
                    --after;
                QCOMPARE(twins([&](auto twin) {
                             return Scan::nextControl<decltype(twin)::value>(s, from, n);
                         }),
                         next);
                QCOMPARE(twins([&](auto twin) {
                             return Scan::afterPreviousControl<decltype(twin)::value>(s, from, n);
                         }),
                         after);
            }

            // Narrowing, each kind.
            auto narrows = [&](Scan::Narrow kind, char16_t widest, bool nul) {
                bool fits = true;
                for (char16_t c : t)
                    fits = fits && c <= widest && (nul || c != 0);
                QByteArray out(n + 1, '-');
                bool done = false;
                switch (kind) {
                case Scan::Narrow::Ascii:
                    done = Scan::narrow<Scan::Narrow::Ascii>(out.data(), s, n);
                    break;
                case Scan::Narrow::Latin1:
                    done = Scan::narrow<Scan::Narrow::Latin1>(out.data(), s, n);
                    break;
                case Scan::Narrow::Latin1NoNul:
                    done = Scan::narrow<Scan::Narrow::Latin1NoNul>(out.data(), s, n);
                    break;
                }
                return done == fits && (!fits || out == narrowed + '-');
            };
            QVERIFY2(narrows(Scan::Narrow::Ascii, 0x7F, true), context);
            QVERIFY2(narrows(Scan::Narrow::Latin1, 0xFF, true), context);
            QVERIFY2(narrows(Scan::Narrow::Latin1NoNul, 0xFF, false), context);
            if (n > 16) // longer text goes to the twins
                twins([&](auto twin) {
                    QByteArray out(n, '-');
                    const bool done = Scan::narrowLong<Scan::Narrow::Latin1, decltype(twin)::value>(
                        out.data(), s, n);
                    return done ? out : QByteArray();
                });

            // The places where a needle's first and last bytes agree, from every place.
            for (qsizetype gap : {0, 1, 5, 17}) {
                if (gap >= n)
                    break;
                const uchar first[2] = {uchar(b[0]), 'a'};
                const uchar last[2] = {uchar(b[n - 1]), uchar(b[n - 1])};
                const qsizetype end = n - gap;
                for (qsizetype from = 0; from <= end; from += 3) {
                    qsizetype i = from;
                    while (i < end && !((uchar(b[i]) == first[0] || uchar(b[i]) == first[1]) &&
                                        uchar(b[i + gap]) == last[0]))
                        ++i;
                    QCOMPARE(twins([&](auto twin) {
                                 return Scan::nextCandidate<decltype(twin)::value>(
                                     b, from, end, first, last, gap);
                             }),
                             i);
                }
            }
        }
    }

    void copies()
    {
        const QByteArray source = QByteArray("0123456789abcdefghijklmnopqrstuvwxyz").repeated(2);
        for (qsizetype length = 0; length <= 40; ++length) {
            QByteArray out(64, '-');
            Scan::copyBytes(out.data(), source.constData() + 3, length);
            QCOMPARE(out, source.mid(3, length) + QByteArray(64 - length, '-'));
            // A line near the end of its text is not read past that end.
            QByteArray line(48, '-');
            const char *end = source.constData() + 3 + length;
            Scan::copyLine(line.data(), source.constData() + 3, length, end);
            QCOMPARE(line.first(length), source.mid(3, length));
            if (length > 16)
                QCOMPARE(line.mid(length), QByteArray(48 - length, '-'));
        }
    }
};

QTEST_GUILESS_MAIN(TstScan)
#include "tst_scan.moc"
