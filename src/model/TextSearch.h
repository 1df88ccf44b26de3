#pragma once

#include "model/LineStore.h"

#include <QElapsedTimer>
#include <QString>
#include <string>

// A search for a piece of text in the lines of a store, from a position onwards (or
// backwards) to the end (the start) and then round from the other end, a slice at a time so
// that a window stays responsive on millions of lines. A match lies within one line. The
// store may grow between slices: the search covers the lines there were when it began.
class TextSearch
{
  public:
    struct Match
    {
        qsizetype line = -1;
        qsizetype column = 0;
        qsizetype length = 0;
    };
    enum class State
    {
        Searching,
        Found,
        NotFound
    };

    // Forward: the first match that starts at (line, column) or after it; backward: the
    // last match that starts before it. An empty needle finds nothing.
    TextSearch(const LineStore &lines, const QString &needle, Qt::CaseSensitivity cs, bool backward,
               qsizetype line, qsizetype column);

    // Searches until a match, the end, or about budgetMs milliseconds spent.
    State run(qint64 budgetMs);
    State state() const { return m_state; }
    const Match &match() const { return m_match; }
    // The match was found after going round past the end (the start).
    bool wrapped() const { return m_wrapped; }
    // The share of the lines looked at, 0 to 1.
    double progress() const;

  private:
    // Looks in the chunk holding line m_line, within the current round; false when that
    // round has no more lines.
    bool searchChunk();
    // Forward: the first match in line range [first, last] of the chunk at or after
    // column `from` of line first; backward: the last one before column `before` of line
    // last (-1: anywhere).
    bool findInChunk(qsizetype firstK, qsizetype lastK, qsizetype from, qsizetype before);
    qsizetype indexIn(qsizetype from, qsizetype to) const;     // in the chunk's text
    qsizetype lastIndexIn(qsizetype from, qsizetype to) const; // a start before to - size

    const LineStore &m_lines;
    const QString m_needle;
    // The needle as Latin-1 chunks are searched for it.
    struct Latin1Needle
    {
        Latin1Needle(const QString &needle, Qt::CaseSensitivity cs);
        bool possible = false;                       // some Latin-1 text can hold it
        QByteArray bytes;                            // the needle's bytes, when the case counts
        std::u16string folded;                       // its folded characters, when it does not
        uchar firstBytes[2] = {}, lastBytes[2] = {}; // the bytes that fold to its ends
    };
    const Latin1Needle m_latin1;
    const Qt::CaseSensitivity m_cs;
    const bool m_backward;
    const qsizetype m_count; // lines when the search began
    qsizetype m_startLine;
    qsizetype m_startColumn;
    qsizetype m_line;       // next line to look at
    bool m_wrapped = false; // in the second round
    qsizetype m_looked = 0; // lines looked at
    State m_state = State::Searching;
    Match m_match;
    LineStore::ChunkText m_chunk;
    mutable QString m_widened; // a Latin-1 chunk's text as UTF-16, when the case is folded
};
