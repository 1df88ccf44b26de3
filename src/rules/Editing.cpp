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
    if (m_loadEnded)
        return;
    if (const qsizetype nul = piece.indexOf(QChar(0)); nul >= 0) {
        piece = piece.first(nul);
        m_loadEnded = true;
    }
    qsizetype start = m_afterCr && piece.startsWith(u'\n') ? 1 : 0;
    m_afterCr = false;
    const auto *chars = reinterpret_cast<const char16_t *>(piece.data());
    for (qsizetype i = start; (i = findLineBreak(chars, i, piece.size())) < piece.size(); ++i) {
        put(piece.sliced(start, i - start));
        putBreak();
        if (piece[i] == u'\r') {
            if (i + 1 == piece.size())
                m_afterCr = true;
            else if (piece[i + 1] == u'\n')
                ++i;
        }
        start = i + 1;
    }
    put(piece.sliced(start));
}

void MemoTextStream::addLine(QStringView line)
{
    m_loadEnded = true; // nothing more is loaded once lines are added
    const qsizetype nul = line.indexOf(QChar(0));
    const QStringView shown = nul < 0 ? line : line.first(nul);
    if (m_lastLineEmpty) {
        put(shown);
        if (nul < 0)
            putBreak();
        return;
    }
    putBreak();
    put(shown);
    if (nul < 0 && line.isEmpty())
        putBreak();
}

} // namespace Editing
