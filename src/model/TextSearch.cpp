#include "model/TextSearch.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "primitives/Scan.h"

namespace {

// Index of the first place in text where needle (m bytes, m >= 1) lies, or -1. Only where
// the needle's first and last bytes agree are the bytes between compared.
qsizetype findBytes(const char *text, qsizetype size, const char *needle, qsizetype m)
{
    const uchar first[2] = {uchar(needle[0]), uchar(needle[0])};
    const uchar last[2] = {uchar(needle[m - 1]), uchar(needle[m - 1])};
    for (qsizetype i = 0, end = size - m + 1; i < end; ++i) {
        i = Scan::nextCandidate(text, i, end, first, last, m - 1);
        if (i < end && std::memcmp(text + i, needle, size_t(m)) == 0)
            return i;
    }
    return -1;
}

// The folded case of each Latin-1 character, as QChar folds it.
const std::array<char16_t, 256> &latin1Folds()
{
    static const std::array<char16_t, 256> folds = [] {
        std::array<char16_t, 256> f{};
        for (int b = 0; b < 256; ++b)
            f[size_t(b)] = QChar::toCaseFolded(char16_t(b));
        return f;
    }();
    return folds;
}

// Index of the first place in Latin-1 text where the folded needle lies, each byte
// compared by its folded case, or -1. firstBytes and lastBytes are the bytes that fold to
// the needle's first and last characters (two each, the same twice for one): only where
// they agree is the whole needle compared.
qsizetype findFoldedBytes(const char *text, qsizetype size, const std::u16string &folded,
                          const uchar firstBytes[2], const uchar lastBytes[2])
{
    const qsizetype m = qsizetype(folded.size());
    if (m > size)
        return -1;
    const auto &folds = latin1Folds();
    const auto *bytes = reinterpret_cast<const uchar *>(text);
    auto matchesAt = [&](qsizetype i) {
        for (qsizetype j = 0; j < m; ++j)
            if (folds[bytes[i + j]] != folded[size_t(j)])
                return false;
        return true;
    };
    for (qsizetype i = 0, end = size - m + 1; i < end; ++i) {
        i = Scan::nextCandidate(text, i, end, firstBytes, lastBytes, m - 1);
        if (i < end && matchesAt(i))
            return i;
    }
    return -1;
}

} // namespace

TextSearch::Latin1Needle::Latin1Needle(const QString &needle, Qt::CaseSensitivity cs)
{
    if (cs == Qt::CaseSensitive) {
        possible = QtPrivate::isLatin1(QStringView(needle));
        if (possible)
            bytes = needle.toLatin1();
        return;
    }
    // Each folded character must be the fold of some Latin-1 byte.
    const auto &folds = latin1Folds();
    for (const QChar c : needle)
        folded += char16_t(c.toCaseFolded().unicode());
    auto bytesFolding = [&](char16_t f, uchar out[2]) {
        int n = 0;
        for (int b = 0; b < 256 && n < 2; ++b)
            if (folds[size_t(b)] == f)
                out[n++] = uchar(b);
        if (n == 1)
            out[1] = out[0];
        return n > 0;
    };
    possible = !folded.empty() && bytesFolding(folded.front(), firstBytes) &&
               bytesFolding(folded.back(), lastBytes);
    for (const char16_t f : folded)
        possible = possible && std::find(folds.begin(), folds.end(), f) != folds.end();
}

TextSearch::TextSearch(const LineStore &lines, const QString &needle, Qt::CaseSensitivity cs,
                       bool backward, qsizetype line, qsizetype column)
    : m_lines(lines), m_needle(needle), m_latin1(needle, cs), m_cs(cs), m_backward(backward),
      m_count(lines.count()),
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
    if (!m_chunk.isWide && !m_latin1.possible)
        return false; // a Latin-1 chunk cannot hold a character the needle has
    if (!m_chunk.isWide && m_cs == Qt::CaseInsensitive && m_backward)
        m_widened = QString::fromLatin1(m_chunk.narrow);
    // The chunk line holding offset p; a match there when it ends within that line.
    qsizetype k = 0;
    auto matchAt = [&](qsizetype p) {
        k = qsizetype(std::upper_bound(m_chunk.ends.begin(), m_chunk.ends.end(), int(p)) -
                      m_chunk.ends.begin());
        if (p + n > m_chunk.ends[size_t(k)])
            return false;
        m_match = {m_chunk.firstLine + k, p - m_chunk.start(k), n};
        return true;
    };
    if (!m_backward) {
        qsizetype at = qMin(m_chunk.start(firstK) + from, qsizetype(m_chunk.ends[size_t(firstK)]));
        const qsizetype end = m_chunk.ends[size_t(lastK)];
        while (at + n <= end) {
            const qsizetype p = indexIn(at, end);
            if (p < 0)
                return false;
            if (matchAt(p))
                return true;
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
        if (matchAt(p))
            return true;
        to = p + n - 1; // crosses a line end: a match starting earlier
    }
    return false;
}

qsizetype TextSearch::indexIn(qsizetype from, qsizetype to) const
{
    if (m_chunk.isWide) {
        const qsizetype p =
            QStringView(m_chunk.wide).sliced(from, to - from).indexOf(m_needle, 0, m_cs);
        return p < 0 ? -1 : from + p;
    }
    const char *text = m_chunk.narrow.constData() + from;
    const qsizetype p =
        m_cs == Qt::CaseSensitive
            ? findBytes(text, to - from, m_latin1.bytes.constData(), m_latin1.bytes.size())
            : findFoldedBytes(text, to - from, m_latin1.folded, m_latin1.firstBytes,
                              m_latin1.lastBytes);
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
    const qsizetype p = text.lastIndexOf(QByteArrayView(m_latin1.bytes));
    return p < 0 ? -1 : from + p;
}
