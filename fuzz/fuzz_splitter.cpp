// The splitter against an oracle written from its rules, one character at a time, and the
// quick address step (which finds the pieces holding "@" outwards from each "@") against
// the splitter's pieces that hold "@"; the scan's one pass over a line against plain
// searches.
#include "rules/Extraction.h"

#include <QStringList>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The splitting rules, read literally: the text ends at its first NUL; separators (codes 1 to
// 32) are skipped, a run of them counts as one; a piece starting with a double quote runs to
// the next quote not doubled, a doubled quote inside standing for one, or to the end; any
// other piece runs to the next separator; moving on from a character passes over the low
// surrogates and non-spacing marks that follow it.
QStringList oracle(const QString &input)
{
    const qsizetype nul = input.indexOf(QChar(0));
    const QString s = nul < 0 ? input : input.left(nul);
    const qsizetype n = s.size();
    auto separator = [&](qsizetype i) { return s[i].unicode() >= 1 && s[i].unicode() <= 32; };
    auto step = [&](qsizetype i) {
        ++i;
        while (i < n && (s[i].isLowSurrogate() || s[i].category() == QChar::Mark_NonSpacing))
            ++i;
        return i;
    };
    QStringList pieces;
    qsizetype i = 0;
    for (;;) {
        while (i < n && separator(i))
            i = step(i);
        if (i == n)
            return pieces;
        QString piece;
        if (s[i] == u'"') {
            for (++i; i < n; ++i) {
                if (s[i] != u'"') {
                    piece += s[i];
                } else if (i + 1 < n && s[i + 1] == u'"') {
                    piece += u'"';
                    ++i;
                } else {
                    ++i; // the closing quote
                    break;
                }
            }
        } else {
            while (i < n && !separator(i)) {
                const qsizetype next = step(i);
                piece += s.mid(i, next - i);
                i = next;
            }
        }
        pieces << piece;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // UTF-16 text from the bytes, so that marks, surrogates and controls all occur.
    const QString text(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    const QStringView seen = Extraction::upToNul(text);
    QStringList pieces;
    Extraction::forEachPiece(seen, [&](QStringView piece) { pieces << piece.toString(); });
    const QStringList expected = oracle(text);
    check(pieces == expected);

    QStringList addresses;
    Extraction::forEachAddressPiece(seen,
                                    [&](QStringView piece) { addresses << piece.toString(); });
    QStringList withAt;
    for (const QString &piece : expected)
        if (piece.contains(u'@'))
            withAt << piece;
    check(addresses == withAt);

    // The scan's one pass over a line, and the pieces it then finds, agree with the above.
    const Extraction::LineMarks marks = Extraction::markLine(text);
    check(marks.length == seen.size());
    check(marks.firstAt == seen.indexOf(u'@'));
    check(marks.hasQuote == seen.contains(u'"'));
    QStringList scanned;
    Extraction::forEachAddressPiece(seen, marks.firstAt, marks.hasQuote,
                                    [&](QStringView piece) { scanned << piece.toString(); });
    check(scanned == withAt);

    // The same line in parts of 1 to 8 characters (a surrogate pair never cut), as the
    // command line reads a long line.
    const qsizetype partSize = size > 0 ? 1 + data[0] % 8 : 1;
    Extraction::PieceStream stream;
    QStringList streamed;
    auto take = [&](QStringView piece) { streamed << piece.toString(); };
    for (qsizetype at = 0; at < text.size();) {
        qsizetype n = qMin(partSize, text.size() - at);
        if (at + n < text.size() && n > 1 && text[at + n - 1].isHighSurrogate())
            --n;
        stream.feed(QStringView(text).sliced(at, n), take);
        at += n;
    }
    stream.end(take);
    check(streamed == withAt);
    return 0;
}
