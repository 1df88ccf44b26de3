#include "rules/Editing.h"

namespace Editing {

void decorate(QString &decorated, QStringView prefix, QStringView line, QStringView suffix)
{
    decorated.resize(prefix.size() + line.size() + suffix.size());
    QChar *to = decorated.data();
    for (const QStringView part : {prefix, line, suffix})
        for (const QChar c : part) // short pieces: a loop beats a call of memcpy
            *to++ = c;
}

void MemoTextStream::put(QStringView text)
{
    if (text.isEmpty())
        return;
    m_out(text);
    m_lastLineEmpty = false;
}

void MemoTextStream::putBreak()
{
    m_out(QStringView(u"\r\n"));
    m_lastLineEmpty = true;
}

void MemoTextStream::load(QStringView piece)
{
    m_breaks.feed(
        piece, [this](QStringView stretch) { put(stretch); }, [this] { putBreak(); });
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

} // namespace Editing
