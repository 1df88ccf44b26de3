#include "model/TextSearch.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Index of the first place in text where needle (m bytes, m >= 1) lies, or -1. Sixteen
// places are tried at a time for the needle's first and last bytes; only where both agree
// are the bytes between compared.
qsizetype findBytes(const char *text, qsizetype size, const char *needle, qsizetype m)
{
    if (m > size)
        return -1;
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i last = _mm_set1_epi8(needle[m - 1]);
    for (; i + m - 1 + 16 <= size; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i + m - 1));
        unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            if (std::memcmp(text + i + bit + 1, needle + 1, size_t(m - 2 > 0 ? m - 2 : 0)) == 0)
                return i + bit;
            mask &= mask - 1;
        }
    }
#endif
    for (; i + m <= size; ++i)
        if (text[i] == needle[0] && std::memcmp(text + i, needle, size_t(m)) == 0)
            return i;
    return -1;
}

} // namespace

TextSearch::TextSearch(const LineStore &lines, const QString &needle, Qt::CaseSensitivity cs,
                       bool backward, qsizetype line, qsizetype column)
    : m_lines(lines), m_needle(needle), m_cs(cs), m_backward(backward), m_count(lines.count()),
      m_startLine(qBound<qsizetype>(0, line, qMax<qsizetype>(m_count - 1, 0))),
      m_startColumn(line >= m_count ? (backward ? -1 : 0) : qMax<qsizetype>(column, 0)),
      m_line(m_startLine)
{
    if (m_needle.isEmpty() || m_count == 0) {
        m_state = State::NotFound;
        return;
    }
    if (line >= m_count && !backward) { // past the end: round from the start at once
        m_wrapped = true;
        m_line = 0;
    }
    if (QtPrivate::isLatin1(QStringView(m_needle)))
        m_needleLatin1 = m_needle.toLatin1();
}

double TextSearch::progress() const
{
    return m_count == 0 ? 1.0 : qMin(1.0, double(m_looked) / double(m_count + 1));
}

TextSearch::State TextSearch::run(qint64 budgetMs)
{
    QElapsedTimer timer;
    timer.start();
    while (m_state == State::Searching) {
        if (!searchChunk()) {
            if (m_wrapped) {
                m_state = State::NotFound;
                break;
            }
            m_wrapped = true;
            m_line = m_backward ? m_count - 1 : 0;
            continue;
        }
        if (timer.elapsed() >= budgetMs)
            break;
    }
    return m_state;
}

bool TextSearch::searchChunk()
{
    // This round's lines: forward, from the start line to the end, then from the first
    // line to the start line; backward the other way round.
    const qsizetype roundFirst =
        !m_backward ? (m_wrapped ? 0 : m_startLine) : (m_wrapped ? m_startLine : 0);
    const qsizetype roundLast = !m_backward ? (m_wrapped ? m_startLine : m_count - 1)
                                            : (m_wrapped ? m_count - 1 : m_startLine);
    const qsizetype available = qMin(m_count, m_lines.count()); // lines may have gone
    if (m_line < roundFirst || m_line > roundLast || m_line >= available)
        return false;
    m_lines.readChunkOf(m_line, m_chunk);
    const qsizetype chunkFirst = m_chunk.firstLine;
    const qsizetype chunkLast = chunkFirst + m_chunk.lineCount() - 1;
    bool found;
    if (!m_backward) {
        const qsizetype last = std::min({chunkLast, roundLast, available - 1});
        const qsizetype from = !m_wrapped && m_line == m_startLine ? m_startColumn : 0;
        found = findInChunk(m_line - chunkFirst, last - chunkFirst, from, -1);
        m_looked += last - m_line + 1;
        m_line = last + 1;
    } else {
        const qsizetype first = qMax(chunkFirst, roundFirst);
        const qsizetype before = !m_wrapped && m_line == m_startLine ? m_startColumn : -1;
        found = findInChunk(first - chunkFirst, m_line - chunkFirst, 0, before);
        m_looked += m_line - first + 1;
        m_line = first - 1;
    }
    if (found)
        m_state = State::Found;
    return true;
}

bool TextSearch::findInChunk(qsizetype firstK, qsizetype lastK, qsizetype from, qsizetype before)
{
    const qsizetype n = m_needle.size();
    if (!m_chunk.isWide && m_cs == Qt::CaseSensitive && m_needleLatin1.isEmpty())
        return false; // a Latin-1 chunk cannot hold a character the needle has
    if (!m_chunk.isWide && m_cs == Qt::CaseInsensitive)
        m_widened = QString::fromLatin1(m_chunk.narrow);
    auto lineOf = [&](qsizetype offset) { // the chunk line holding offset
        return qsizetype(std::upper_bound(m_chunk.ends.begin(), m_chunk.ends.end(), int(offset)) -
                         m_chunk.ends.begin());
    };
    if (!m_backward) {
        qsizetype at = qMin(m_chunk.start(firstK) + from, qsizetype(m_chunk.ends[size_t(firstK)]));
        const qsizetype end = m_chunk.ends[size_t(lastK)];
        while (at + n <= end) {
            const qsizetype p = indexIn(at, end);
            if (p < 0)
                return false;
            const qsizetype k = lineOf(p);
            if (p + n <= m_chunk.ends[size_t(k)]) {
                m_match = {m_chunk.firstLine + k, p - m_chunk.start(k), n};
                return true;
            }
            at = m_chunk.ends[size_t(k)]; // a match that crosses a line end: the next line
        }
        return false;
    }
    const qsizetype start = m_chunk.start(firstK);
    qsizetype to = before < 0 ? m_chunk.ends[size_t(lastK)]
                              : qMin(m_chunk.start(lastK) + before - 1 + n,
                                     qsizetype(m_chunk.ends[size_t(lastK)]));
    while (to - start >= n) {
        const qsizetype p = lastIndexIn(start, to);
        if (p < 0)
            return false;
        const qsizetype k = lineOf(p);
        if (p + n <= m_chunk.ends[size_t(k)]) {
            m_match = {m_chunk.firstLine + k, p - m_chunk.start(k), n};
            return true;
        }
        to = p + n - 1; // crosses a line end: a match starting earlier
    }
    return false;
}

qsizetype TextSearch::indexIn(qsizetype from, qsizetype to) const
{
    if (m_chunk.isWide || m_cs == Qt::CaseInsensitive) {
        const QStringView text =
            m_chunk.isWide ? QStringView(m_chunk.wide) : QStringView(m_widened);
        const qsizetype p = text.sliced(from, to - from).indexOf(m_needle, 0, m_cs);
        return p < 0 ? -1 : from + p;
    }
    const qsizetype p = findBytes(m_chunk.narrow.constData() + from, to - from,
                                  m_needleLatin1.constData(), m_needleLatin1.size());
    return p < 0 ? -1 : from + p;
}

qsizetype TextSearch::lastIndexIn(qsizetype from, qsizetype to) const
{
    if (m_chunk.isWide || m_cs == Qt::CaseInsensitive) {
        const QStringView text =
            m_chunk.isWide ? QStringView(m_chunk.wide) : QStringView(m_widened);
        const qsizetype p = text.sliced(from, to - from).lastIndexOf(m_needle, -1, m_cs);
        return p < 0 ? -1 : from + p;
    }
    const QByteArrayView text(m_chunk.narrow.constData() + from, to - from);
    const qsizetype p = text.lastIndexOf(QByteArrayView(m_needleLatin1));
    return p < 0 ? -1 : from + p;
}
