#pragma once

// The rules of Edit Text, shared by its window and the command line.
#include "model/LineBreaks.h"
#include "primitives/TextFile.h"
#include "rules/Job.h"

#include <QString>
#include <memory>

class LineReader;

namespace Editing {

// A decorated line: the prefix, the line and the suffix joined, into decorated (whose
// storage is reused from one line to the next).
void decorate(QString &decorated, QStringView prefix, QStringView line, QStringView suffix);

// The text of a memo handed on as it grows instead of being kept: a whole-file load's text
// (its line breaks made CR LF, up to its first NUL), then lines added by the memo's
// add-a-line rule. What it writes is what the memo's save would write.
class MemoTextStream
{
  public:
    explicit MemoTextStream(const TextWriter &out) : m_out(out) {}
    // Hands on what is held back, also when a failure ends the text early.
    ~MemoTextStream();
    MemoTextStream(const MemoTextStream &) = delete;
    MemoTextStream &operator=(const MemoTextStream &) = delete;
    // Hands what was put so far to the writer.
    void flush();
    // The loaded text, piece by piece in order.
    void load(QStringView piece);
    // The same for a piece of Latin-1 characters that are also the code page's bytes: handed
    // on as bytes.
    void load(QLatin1StringView piece);
    // Adds a line at the end: after an empty text or one ending with CR LF the line and
    // CR LF; otherwise CR LF and the line, and one more CR LF for an empty line; the piece
    // added is taken up to its first NUL.
    void addLine(QStringView line);
    // The same for the line prefix + line + suffix, without joining them first.
    void addLine(QStringView prefix, QStringView line, QStringView suffix);
    // The same for a line handed in parts, in order, between beginLine and endLine.
    void beginLine();
    void linePart(QStringView part);
    void endLine();

  private:
    void put(QStringView text); // characters of the last line
    void putBreak();            // CR LF

    // Short stretches and breaks are gathered and handed on in blocks of this many characters.
    static constexpr qsizetype PendingChars = 1 << 15;

    void gather(QStringView text); // into the block handed on when full
    // Bytes the same way, in a block of their own: each kind of block is handed on before
    // the other kind is gathered.
    void gather(QLatin1StringView bytes);
    void flushBytes();
    void flushText();

    const TextWriter &m_out;
    std::unique_ptr<char16_t[]> m_pending;
    qsizetype m_used = 0;
    std::unique_ptr<char[]> m_pendingBytes;
    qsizetype m_usedBytes = 0;
    bool m_lastLineEmpty = true; // the text is empty or ends with CR LF
    LineBreaks m_breaks;         // of the loaded text
    // Of the line being added in parts: the text ended with CR LF before it, it met a NUL,
    // it holds characters.
    bool m_lineStartedEmpty = false;
    bool m_lineCut = false;
    bool m_lineHasText = false;
    QString m_decorated; // a decorated line that takes the general rule
};

} // namespace Editing

// Where Edit Text's Start puts its decorated lines; every 1000 lines a progress point, where
// the window pumps its messages and the prefix and suffix may change.
class EditSink : public LineSink
{
  public:
    virtual void line(QStringView decorated) = 0;
    // A line with its prefix and suffix; by default joined and handed to line.
    virtual void decoratedLine(QStringView prefix, QStringView line, QStringView suffix)
    {
        Editing::decorate(m_decorated, prefix, line, suffix);
        this->line(m_decorated);
    }
    // A sink that takes lines in parts is handed a line longer than MaxPart as beginLine,
    // the prefix, the line a part at a time, the suffix, endLine.
    virtual void beginLine() {}
    virtual void linePart(QStringView) {}
    virtual void endLine() {}
    virtual void progressPoint(QString & /*prefix*/, QString & /*suffix*/) {}

  private:
    QString m_decorated; // reused: no allocation per line
};

// Edit Text's Start: each line of a file again, with a prefix and a suffix, until its end
// or a stop; its values kept from one run to the next.
class EditJob
{
  public:
    EditJob();
    ~EditJob();
    // Throws the open, read and encoding errors, and the sink's.
    void start(const QString &fileName, QString prefix, QString suffix, EditSink &sink);

    // The run's values, named as the tool's unit names them; a window clears EditRunning
    // for Stop.
    RunFlag EditRunning = false;
    QString EditFileName;
    qint64 EditLineCount = 0;
    std::unique_ptr<LineReader> EditLineReader; // open during a run
};
