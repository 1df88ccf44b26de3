#pragma once

#include "primitives/SourceFile.h"
#include "primitives/TextFile.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Items (lines of a store) found in the lines of a file: the function hands each item of a
// line to take, in order.
using ItemsOfLine = void (*)(QStringView line, const std::function<void(QStringView)> &take);

// Where a chunk's lines lie in a file: the bytes [begin, end) of file, in encoding, decode
// to its lines (with itemsOf, to the items that itemsOf finds in them, from the one after
// the first skip on; without, each line between prefix and suffix), whose text and line
// ends have this checksum.
struct SourceStretch
{
    std::shared_ptr<const SourceFile> file;
    TextEncoding encoding = TextEncoding::Utf8;
    qint64 begin = 0;
    qint64 end = 0;
    quint64 checksum = 0;
    ItemsOfLine itemsOf = nullptr;
    int skip = 0;
    QString prefix, suffix;
};

// A chunk of a line store: up to a few thousand lines, as one text (Latin-1 bytes while
// every character fits, else UTF-16) with the end offset of each line. It is of one of two
// kinds: its text is its own (kept in memory, or in the spill file while it is out of it),
// or it is a stretch of a file (source), dropped when it leaves memory and read again.
struct StoreChunk
{
    // In memory while resident:
    QByteArray narrow; // Latin-1 while every character fits
    QString wide;      // once one does not
    bool isWide = false;
    std::vector<int> ends; // end offset of each line in the text
    bool resident = true;
    // Where a copy of the chunk lies in the spill file, or -1 when there is none or it is
    // out of date; and what it holds while the chunk is not resident.
    qint64 spillOffset = -1;
    int spilledLines = 0;
    int spilledChars = 0;
    bool pinned = false; // could not be spilled: stays in memory
    quint64 lastUse = 0;
    std::optional<SourceStretch> source; // a stretch of a file, else none

    int lines() const { return resident ? int(ends.size()) : spilledLines; }
    int start(int k) const { return k == 0 ? 0 : ends[size_t(k - 1)]; }
    qsizetype size() const
    {
        return !resident ? spilledChars : isWide ? wide.size() : narrow.size();
    }
    qsizetype memoryBytes() const;
    QString text(int from, int n) const;
    void insertText(int at, QStringView s);
    void removeText(int at, int n);
};
