#include "rules/Editing.h"

#include "primitives/LineReader.h"

#include <cstring>
#include <limits>

namespace Editing {

void decorate(QString &decorated, QStringView prefix, QStringView line, QStringView suffix)
{
    decorated.resize(prefix.size() + line.size() + suffix.size());
    char16_t *to = reinterpret_cast<char16_t *>(decorated.data());
    for (const QStringView part : {prefix, line, suffix}) {
        std::memcpy(to, part.utf16(), size_t(part.size()) * 2);
        to += part.size();
    }
}

MemoTextStream::~MemoTextStream()
{
    // What was put before a failure is handed on; the failure itself goes on.
    try {
        flush();
    } catch (...) {
    }
}

void MemoTextStream::flush()
{
    flushBytes();
    flushText();
}

void MemoTextStream::flushText()
{
    if (m_used == 0)
        return;
    m_out(QStringView(m_pending.get(), m_used));
    m_used = 0;
}

void MemoTextStream::flushBytes()
{
    if (m_usedBytes == 0)
        return;
    m_out.systemCodePageBytes(QByteArrayView(m_pendingBytes.get(), m_usedBytes));
    m_usedBytes = 0;
}

void MemoTextStream::gather(QLatin1StringView bytes)
{
    flushText();
    if (m_usedBytes + bytes.size() > PendingChars) {
        flushBytes();
        if (bytes.size() > PendingChars) { // a long stretch goes on as it is
            m_out.systemCodePageBytes(QByteArrayView(bytes.data(), bytes.size()));
            return;
        }
    }
    if (!m_pendingBytes)
        m_pendingBytes.reset(new char[PendingChars]);
    Scan::copyBytes(m_pendingBytes.get() + m_usedBytes, bytes.data(), bytes.size());
    m_usedBytes += bytes.size();
}

void MemoTextStream::gather(QStringView text)
{
    if (m_pending && m_usedBytes == 0 && m_used + text.size() <= PendingChars) {
        Scan::copyBytes(m_pending.get() + m_used, text.utf16(), text.size() * 2); // the usual case
        m_used += text.size();
        return;
    }
    flushBytes();
    if (m_used + text.size() > PendingChars) {
        flush();
        if (text.size() > PendingChars) { // a long stretch goes on as it is
            m_out(text);
            return;
        }
    }
    if (!m_pending)
        m_pending.reset(new char16_t[PendingChars]);
    Scan::copyBytes(m_pending.get() + m_used, text.utf16(), text.size() * 2);
    m_used += text.size();
}

void MemoTextStream::put(QStringView text)
{
    if (text.isEmpty())
        return;
    gather(text);
    m_lastLineEmpty = false;
}

void MemoTextStream::putBreak()
{
    gather(u"\r\n");
    m_lastLineEmpty = true;
}

void MemoTextStream::load(QStringView piece)
{
    m_breaks.feed(
        piece, [this](QStringView stretch) { put(stretch); }, [this] { putBreak(); });
}

void MemoTextStream::load(QLatin1StringView piece)
{
    m_breaks.feed(
        piece,
        [this](QLatin1StringView stretch) {
            if (stretch.isEmpty())
                return;
            gather(stretch);
            m_lastLineEmpty = false;
        },
        [this] {
            gather(QLatin1StringView("\r\n"));
            m_lastLineEmpty = true;
        });
}

void MemoTextStream::addLine(QStringView line)
{
    m_breaks.end(); // nothing more is loaded once lines are added
    const AddedLine added = addedLine(line, m_lastLineEmpty);
    if (added.breakBefore)
        putBreak();
    put(added.shown);
    if (added.breakAfter)
        putBreak();
}

void MemoTextStream::addLine(QStringView prefix, QStringView line, QStringView suffix)
{
    // Most lines come after a break and hold no NUL: as addLine would put them joined, the
    // three parts and a break.
    if (m_lastLineEmpty && !holdsNul(prefix) && !holdsNul(line) && !holdsNul(suffix)) {
        m_breaks.end();
        gather(prefix);
        gather(line);
        gather(suffix);
        putBreak();
        return;
    }
    decorate(m_decorated, prefix, line, suffix);
    addLine(m_decorated);
}

void MemoTextStream::beginLine()
{
    m_breaks.end();
    m_lineStartedEmpty = m_lastLineEmpty;
    m_lineCut = false;
    m_lineHasText = false;
    if (!m_lastLineEmpty)
        putBreak(); // a break comes first
}

void MemoTextStream::linePart(QStringView part)
{
    if (m_lineCut)
        return;
    m_lineHasText = m_lineHasText || !part.isEmpty();
    const QStringView shown = upToNul(part);
    m_lineCut = shown.size() != part.size();
    put(shown);
}

void MemoTextStream::endLine()
{
    // As addLine: a break after a line put on an empty last line, and after an empty
    // line; none after a line cut at a NUL.
    if (!m_lineCut && (m_lineStartedEmpty || !m_lineHasText))
        putBreak();
}

} // namespace Editing

EditJob::EditJob() = default;
EditJob::~EditJob() = default;

void EditJob::start(const QString &fileName, QString prefix, QString suffix, EditSink &sink)
{
    EditLineCount = 0;
    EditFileName = fileName;
    EditLineReader = std::make_unique<LineReader>(EditFileName);
    struct CloseReader
    {
        std::unique_ptr<LineReader> &reader;
        ~CloseReader() { reader.reset(); }
    } closeReader{EditLineReader};
    // A sink that takes parts gets a line longer than a part in parts; other lines whole.
    const qsizetype partChars = sink.partChars();
    while (!EditLineReader->EndOfStream() && EditRunning) {
        bool lineEnded = false;
        const QStringView first = EditLineReader->ReadLinePart(partChars, lineEnded);
        if (lineEnded) {
            sink.decoratedLine(prefix, first, suffix);
        } else {
            sink.beginLine();
            sink.linePart(prefix);
            sink.linePart(first);
            while (!lineEnded)
                sink.linePart(EditLineReader->ReadLinePart(partChars, lineEnded));
            sink.linePart(suffix);
            sink.endLine();
        }
        if (++EditLineCount % 1000 == 0)
            sink.progressPoint(prefix, suffix);
    }
}
