#pragma once

// The rules of the address scan, shared by the Extract Emails window and the command line:
// the line count pass, what the scan sees of a line and how it is cut into pieces.
#include "primitives/TextFile.h"
#include "rules/Job.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>
#include <memory>
#include <optional>

class LineReader;

// The line count of a file read as bytes: LF ends a line, a Ctrl-Z ends a line and, at
// the start of a line, the input. Throws the input/output failure of the count pass.
// The time of day is read after the file is opened and before it is closed; their
// difference, in days, goes to elapsedDays.
qint64 CountLines(const QString &fileName, double *elapsedDays = nullptr);
// The same over an open stream, from its position.
class FileStream;
qint64 CountLines(FileStream &file, double *elapsedDays = nullptr);

namespace Extraction {

using ::upToNul;

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

template <typename Take>
void forEachAddressPiece(QStringView s, qsizetype at, bool hasQuote, Take take);

// What the scan needs to know of a line, found in one pass over it: its length up to its
// first NUL (all that an edit field holds of it), its first "@" before that (-1 for none)
// and whether a double quote comes before that NUL.
using LineMarks = Scan::AtMarks;
inline LineMarks markLine(QStringView line)
{
    return Scan::atMarks(line.utf16(), line.size());
}

// Index of the first separator of s at or after from, or the size of s.
inline qsizetype nextSeparator(QStringView s, qsizetype from)
{
    return Scan::nextControl(s.utf16(), from, s.size());
}
// Index after the last separator of s before `before`, or 0 when there is none.
inline qsizetype afterPreviousSeparator(QStringView s, qsizetype before)
{
    return Scan::afterPreviousControl(s.utf16(), before, s.size());
}

// Hands every piece of s that holds an "@" to take, in order (s holds no NUL). Without a
// double quote the pieces are found from each "@" outwards, so the pieces around them
// cost nothing: a piece then starts after a separator and the low surrogates and marks
// that follow it (or at the start of s), and ends at the next separator.
template <typename Take> void forEachAddressPiece(QStringView s, Take take)
{
    forEachAddressPiece(s, s.indexOf(u'@'), s.contains(u'"'), take);
}

// The same, when a scan of s has already found its first "@" (at; -1 for none) and whether
// it holds a double quote.
template <typename Take>
void forEachAddressPiece(QStringView s, qsizetype at, bool hasQuote, Take take)
{
    if (at < 0)
        return;
    if (hasQuote) {
        forEachPiece(s, [&](QStringView piece) {
            if (piece.contains(u'@'))
                take(piece);
        });
        return;
    }
    for (; at >= 0; at = s.indexOf(u'@', at)) {
        qsizetype start = afterPreviousSeparator(s, at);
        if (start > 0)
            while (followsInStep(s[start]))
                ++start;
        const qsizetype end = nextSeparator(s, at + 1);
        take(s.sliced(start, end - start));
        at = end;
    }
}

// Hands the pieces holding "@" of a whole line to take, as the scan finds them: those of
// its text up to its first NUL (what an edit field holds of it).
void forEachPieceOfLine(QStringView line, const std::function<void(QStringView)> &take);

// The pieces holding "@" of a line that arrives in parts, as forEachAddressPiece finds them
// in the whole line, holding no more than the piece being read.
class PieceStream
{
  public:
    // The next part of the line (a surrogate pair is never cut between two parts).
    template <typename Take> void feed(QStringView part, Take take)
    {
        if (m_ended)
            return;
        const QStringView shown = upToNul(part); // the line ends at its first NUL
        const qsizetype n = shown.size();
        for (qsizetype i = 0; i < n; ++i) {
            // The runs of a piece are taken whole, up to the character that may end it.
            if (m_state == State::Unquoted || m_state == State::Quoted) {
                qsizetype j =
                    m_state == State::Unquoted ? nextSeparator(shown, i) : shown.indexOf(u'"', i);
                if (j < 0)
                    j = n;
                m_piece.append(shown.sliced(i, j - i));
                i = j;
                if (i == n)
                    break;
            }
            next(shown[i], take);
        }
        m_ended = n != part.size();
    }
    // The line has ended: its last piece, then ready for the next line.
    template <typename Take> void end(Take take)
    {
        if (m_state != State::Between)
            handOn(take);
        m_state = State::Between;
        m_afterSeparator = false;
        m_ended = false;
    }

  private:
    enum class State
    {
        Between,       // separators, and the marks that follow them
        Unquoted,      // a piece up to the next separator
        Quoted,        // a piece in double quotes
        QuoteInQuoted, // a quote in a quoted piece: doubled, or its end
    };
    template <typename Take> void next(QChar c, Take take)
    {
        switch (m_state) {
        case State::Between:
            if (isSeparator(c)) {
                m_afterSeparator = true;
            } else if (!(m_afterSeparator && followsInStep(c))) {
                m_afterSeparator = false;
                m_piece.resize(0);
                if (c == u'"') {
                    m_state = State::Quoted;
                } else {
                    m_piece += c;
                    m_state = State::Unquoted;
                }
            }
            return;
        case State::Unquoted:
            if (isSeparator(c)) {
                handOn(take);
                m_state = State::Between;
                m_afterSeparator = true;
            } else {
                m_piece += c;
            }
            return;
        case State::Quoted:
            if (c == u'"')
                m_state = State::QuoteInQuoted;
            else
                m_piece += c;
            return;
        case State::QuoteInQuoted:
            if (c == u'"') {
                m_piece += c;
                m_state = State::Quoted;
                return;
            }
            handOn(take); // the closing quote; c comes after the piece
            m_state = State::Between;
            m_afterSeparator = false;
            next(c, take);
            return;
        }
    }
    template <typename Take> void handOn(Take take)
    {
        if (m_piece.contains(u'@'))
            take(QStringView(m_piece));
    }

    State m_state = State::Between;
    bool m_afterSeparator = false;
    bool m_ended = false; // a NUL was met
    QString m_piece;
};

} // namespace Extraction

// What an extraction scan reports, in order: each line read, then (for a line holding "@")
// that line's field and its pieces holding "@"; every 1000 lines a progress point; log lines.
class ExtractionSink : public LineSink
{
  public:
    virtual void line(QStringView) {}
    virtual void addressLine(QStringView /*field*/) {}
    // A sink that takes lines in parts is handed only the pieces of a line longer than
    // MaxPart (no line, no field), read a part at a time.
    virtual void piece(QStringView piece) = 0;
    // Every 1000 lines, after bytes of the file are taken: the window pumps its messages
    // here. Gives the line total's text for the progress line, or nothing for none.
    virtual std::optional<QString> progressPoint(qint64 /*lines*/, qint64 /*bytes*/)
    {
        return std::nullopt;
    }
    virtual void log(const QString &) {}
};

// The Extract Emails tool's work: the size report, the timed line count and the address
// scan, with the scan's values kept from one scan to the next and its stop flag.
class ExtractionJob
{
  public:
    ExtractionJob();
    ~ExtractionJob();

    // "File Size : N Bytes " for a file (-1 when it cannot be had).
    static QString sizeReport(const QString &fileName);
    // The count pass: the line count and the log line "Lines read = N\r elapsed time = T".
    static std::pair<qint64, QString> countPass(const QString &fileName);
    // Reads every line of the file (standard input for a null name) until its end or a stop,
    // reporting to sink; the summary line is logged on every way out, before a failure goes
    // on. Throws the open, read, encoding and sink's errors.
    void scan(const QString &fileName, ExtractionSink &sink);
    void scanStandardInput(ExtractionSink &sink);

    // The scan's values, named as the tool's unit names them; the job writes them, a
    // window reads them and clears ExtractionRunning for Stop.
    RunFlag ExtractionRunning = true;
    QString ExtractionFileName;
    qint64 ExtractionLineCount = 0;
    qint64 ExtractionTicks = 0;                       // after a scan: its milliseconds
    std::unique_ptr<LineReader> ExtractionLineReader; // open during a scan

  private:
    // Starts the values of a scan, opens its reader and reads every line.
    void run(const QString &fileName, const std::function<std::unique_ptr<LineReader>()> &open,
             ExtractionSink &sink);
};

// Empties list and fills it with the pieces of text: separators are the characters 1 to
// 32 (delimiter among them), a piece starting with a double quote runs to the closing
// one, the text ends at its first NUL. A missing list is an assertion failure.
void SplitDelimited(QChar delimiter, const QString &text, QStringList *list);
