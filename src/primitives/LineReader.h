#pragma once

#include "primitives/FileStream.h"
#include "primitives/SourceFile.h"
#include "primitives/TextFile.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <utility>
#include <vector>

// Reads a text file line by line: UTF-8, or the encoding its byte-order mark names.
// Lines end at LF, CR LF or a lone CR. The file is decoded in blocks of 4096 bytes, so
// a decoding error surfaces once the reader reaches the block that holds it.
class LineReader : public SourcePosition
{
  public:
    explicit LineReader(const QString &fileName); // throws the open error
    explicit LineReader(FileStream::StandardInput);
    ~LineReader() override;
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    bool EndOfStream();
    QString ReadLine();
    // The same without a copy: a view into the reader's queue, valid until the next call
    // of EndOfStream or ReadLine.
    QStringView ReadLineView();
    // The next part of the current line: its rest when that fits in maxChars characters
    // (lineEnded is then true and the break is taken), else its next maxChars characters
    // or one fewer, so that no surrogate pair is cut (lineEnded false). A line of any length
    // is read this way in memory of the order of maxChars. A view valid until the next call.
    QStringView ReadLinePart(qsizetype maxChars, bool &lineEnded);
    void close();
    TextEncoding encoding() const override { return m_encoding; }
    // Where in the file the line last returned whole by ReadLineView or ReadLinePart starts
    // (its byte offset), or -1 when it came in parts.
    qint64 lineStartOffset() const override;
    // Lines returned whole or ended so far: the number of the line last returned, from 1.
    qint64 lineNumber() const override { return m_linesRead; }
    // Bytes of the file taken into the queue so far (for progress reports).
    qint64 bytesTaken() const { return m_stream.position() - (m_bufferEnd - m_bufferPos); }

    static constexpr qsizetype BlockSize = 4096;

  private:
    void fill();
    void allocateBuffer();
    qsizetype takeBlock(const char *&block); // bytes of the next block, at most BlockSize
    void decodeBlock(const char *data, qsizetype size, qint64 offset);
    // Byte offset in the file of the character at index of the queue.
    qint64 offsetOf(qsizetype index) const;

    FileStream m_stream;
    QByteArray m_buffer; // stream read buffer
    qsizetype m_bufferPos = 0;
    qsizetype m_bufferEnd = 0;
    bool m_fileEnded = false;
    qint64 m_sizeAtOpen = 0;   // a regular file that ends before it has been shortened
    qint64 m_bufferOffset = 0; // where the buffer's first byte lies in the file

    TextEncoding m_encoding = TextEncoding::Utf8;
    QStringDecoder m_utf8;
    bool m_bomPending = true;
    bool m_endOfData = false;

    QString m_queue;         // decoded characters from m_head on
    qsizetype m_head = 0;    // first character not yet returned
    qsizetype m_scanned = 0; // characters after m_head known to hold no CR or LF
    // Where each block decoded into the queue starts: its first character's index and its
    // byte offset in the file (a block's bytes decode to its characters and no others).
    std::vector<std::pair<qsizetype, qint64>> m_blocks;
    qsizetype m_lineStart = -1; // queue index of the line last returned whole
    bool m_inParts = false;     // a line is being returned in parts
    qint64 m_linesRead = 0;
    // The breaks of the queue, found 64 characters at a time; made again when it changes.
    Scan::Breaks<char16_t> m_breaks{nullptr, 0};
    bool m_breaksStale = true;
};
