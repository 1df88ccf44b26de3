#pragma once

// The rules of the address scan, shared by the Extract Emails window and the command line:
// the line count pass, what the scan sees of a line and how it is cut into pieces.
#include <QString>
#include <QStringView>

// The line count of a file read as bytes: LF ends a line, a Ctrl-Z ends a line and, at
// the start of a line, the input. Throws the input/output failure of the count pass.
// The time of day is read after the file is opened and before it is closed; their
// difference, in days, goes to elapsedDays.
qint64 CountLines(const QString &fileName, double *elapsedDays = nullptr);
// The same over an open stream, from its position.
class FileStream;
qint64 CountLines(FileStream &file, double *elapsedDays = nullptr);

namespace Extraction {

// The text up to its first NUL: all that an edit field, the "@" test and the splitter see.
inline QStringView upToNul(QStringView text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.first(nul);
}

inline bool isSeparator(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

// A low surrogate or a non-spacing mark, which a step passes over together with the
// character before it (none of them lies below U+0300, so most characters skip the
// category lookup).
inline bool followsInStep(QChar c)
{
    return c.unicode() >= 0x300 && (c.isLowSurrogate() || c.category() == QChar::Mark_NonSpacing);
}

// Hands every piece of s to take, in order, by the splitting rules of SplitDelimited (s
// holds no NUL). An unquoted piece is a view into s; a quoted one is built in a string of
// its own, valid during the call.
template <typename Take> void forEachPiece(QStringView s, Take take)
{
    const qsizetype n = s.size();
    auto next = [&](qsizetype i) {
        ++i;
        while (i < n && followsInStep(s[i]))
            ++i;
        return i;
    };
    QString quoted;
    qsizetype i = 0;
    while (i < n && isSeparator(s[i]))
        i = next(i);
    while (i < n) {
        if (s[i] == u'"') {
            quoted.resize(0);
            ++i;
            while (i < n) {
                if (s[i] == u'"') {
                    if (i + 1 < n && s[i + 1] == u'"') {
                        quoted += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                quoted += s[i++];
            }
            take(QStringView(quoted));
        } else {
            const qsizetype start = i;
            while (i < n && !isSeparator(s[i]))
                i = next(i);
            take(s.sliced(start, i - start));
        }
        while (i < n && isSeparator(s[i]))
            i = next(i);
    }
}

// Hands every piece of s that holds an "@" to take, in order (s holds no NUL). Without a
// double quote the pieces are found from each "@" outwards, so the pieces around them
// cost nothing: a piece then starts after a separator and the low surrogates and marks
// that follow it (or at the start of s), and ends at the next separator.
template <typename Take> void forEachAddressPiece(QStringView s, Take take)
{
    if (s.contains(u'"')) {
        forEachPiece(s, [&](QStringView piece) {
            if (piece.contains(u'@'))
                take(piece);
        });
        return;
    }
    const qsizetype n = s.size();
    for (qsizetype at = s.indexOf(u'@'); at >= 0; at = s.indexOf(u'@', at)) {
        qsizetype start = at;
        while (start > 0 && !isSeparator(s[start - 1]))
            --start;
        if (start > 0)
            while (followsInStep(s[start]))
                ++start;
        qsizetype end = at + 1;
        while (end < n && !isSeparator(s[end]))
            ++end;
        take(s.sliced(start, end - start));
        at = end;
    }
}

} // namespace Extraction
