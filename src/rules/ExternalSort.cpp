#include "rules/ExternalSort.h"

#include "primitives/Errors.h"

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <queue>

namespace {

using Key = ExternalSorter::Key;

// The first 16 bytes as two big-endian numbers, zero-padded: comparing keys compares those
// bytes as unsigned.
Key keyOf(const char *bytes, qsizetype length)
{
    uchar first[16] = {};
    std::memcpy(first, bytes, size_t(qMin<qsizetype>(length, 16)));
    quint64 high, low;
    std::memcpy(&high, first, 8);
    std::memcpy(&low, first + 8, 8);
    return {qFromBigEndian(high), qFromBigEndian(low)};
}

// The order of two records, from their keys, numbers and bytes.
inline bool recordLess(ExternalSorter::Order order, const Key &keyA, quint64 numberA, const char *a,
                       qsizetype na, const Key &keyB, quint64 numberB, const char *b, qsizetype nb)
{
    if (order == ExternalSorter::Order::Number)
        return numberA < numberB;
    if (keyA.high != keyB.high)
        return keyA.high < keyB.high;
    if (keyA.low != keyB.low)
        return keyA.low < keyB.low;
    if (na > 16 && nb > 16) { // equal first 16 bytes: the rest decides
        const int c = std::memcmp(a + 16, b + 16, size_t(qMin(na, nb) - 16));
        if (c != 0)
            return c < 0;
    }
    if (na != nb)
        return na < nb; // equal up to the shorter one's end: it is a prefix of the longer
    return numberA < numberB;
}

// Whether two records' bytes are equal up to their first NUL (all of them without one).
bool equalUpToNul(const char *a, qsizetype na, const char *b, qsizetype nb)
{
    const auto upToNul = [](const char *s, qsizetype n) {
        const void *nul = std::memchr(s, 0, size_t(n));
        return nul ? static_cast<const char *>(nul) - s : n;
    };
    na = upToNul(a, na);
    return na == upToNul(b, nb) && std::memcmp(a, b, size_t(na)) == 0;
}

constexpr qsizetype HeaderBytes = 12; // length (4) and number (8) of a record in a run

} // namespace

// Reads the records of one run back from the spill file through a buffer.
class ExternalSorter::RunReader
{
  public:
    RunReader(const SpillFile &spill, Run run, qsizetype bufferBytes)
        : m_spill(spill), m_position(run.offset), m_end(run.offset + run.size),
          m_bufferBytes(bufferBytes)
    {
        next();
    }
    bool atEnd() const { return m_atEnd; }
    const char *bytes() const { return m_buffer.constData() + m_start + HeaderBytes; }
    qsizetype length() const { return m_length; }
    quint64 number() const { return m_number; }
    const Key &key() const { return m_key; }

    void next()
    {
        m_start += m_length + (m_atStart ? 0 : HeaderBytes);
        m_atStart = false;
        if (!fill(HeaderBytes)) {
            m_atEnd = true;
            return;
        }
        quint32 length;
        std::memcpy(&length, m_buffer.constData() + m_start, 4);
        std::memcpy(&m_number, m_buffer.constData() + m_start + 4, 8);
        m_length = length;
        if (!fill(HeaderBytes + m_length))
            throw Errors::readError();
        m_key = keyOf(bytes(), m_length);
    }

  private:
    // Makes sure the buffer holds n bytes from m_start; false at the run's end.
    bool fill(qsizetype n)
    {
        const qsizetype held = m_held - m_start;
        if (held >= n)
            return true;
        const qint64 left = m_end - m_position;
        if (held == 0 && left == 0)
            return false;
        if (held + left < n)
            throw Errors::readError();
        // What is held moves to the front; the rest of the buffer is read.
        if (m_buffer.size() < qMax(n, m_bufferBytes))
            m_buffer.resize(qMax(n, m_bufferBytes));
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(held));
        const qint64 more = qMin<qint64>(m_buffer.size() - held, left);
        if (!m_spill.read(m_position, m_buffer.data() + held, more))
            throw Errors::readError();
        m_position += more;
        m_held = held + qsizetype(more);
        m_start = 0;
        return true;
    }

    const SpillFile &m_spill;
    qint64 m_position;
    const qint64 m_end;
    const qsizetype m_bufferBytes;
    QByteArray m_buffer;
    qsizetype m_held = 0; // bytes of the buffer read
    qsizetype m_start = 0;
    qsizetype m_length = 0;
    quint64 m_number = 0;
    Key m_key = {};
    bool m_atStart = true;
    bool m_atEnd = false;
};

ExternalSorter::ExternalSorter(Order order, bool keepFirstOfEqual, qsizetype runBytes)
    : m_order(order), m_keepFirstOfEqual(keepFirstOfEqual), m_runBytes(runBytes)
{
}

ExternalSorter::~ExternalSorter() = default;

void ExternalSorter::add(QByteArrayView bytes, quint64 number)
{
    const qsizetype used = qsizetype(m_bytes.size() + m_entries.size() * sizeof(Entry));
    if (!m_entries.empty() && used + bytes.size() + qsizetype(sizeof(Entry)) > m_runBytes)
        spillRun();
    if (m_entries.empty()) {
        m_bytes.reserve(size_t(m_runBytes / 2));
        m_entries.reserve(size_t(m_runBytes / 2 / sizeof(Entry)));
    }
    const quint32 offset = quint32(m_bytes.size());
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    m_entries.push_back({keyOf(bytes.data(), bytes.size()), number, offset, quint32(bytes.size())});
}

bool ExternalSorter::less(const Entry &a, const Entry &b, const char *bytes) const
{
    return recordLess(m_order, a.key, a.number, bytes + a.offset, a.length, b.key, b.number,
                      bytes + b.offset, b.length);
}

void ExternalSorter::sortRun()
{
    const char *bytes = m_bytes.data();
    std::sort(m_entries.begin(), m_entries.end(),
              [&](const Entry &a, const Entry &b) { return less(a, b, bytes); });
    if (m_keepFirstOfEqual && m_order == Order::BytesThenNumber) {
        const auto end =
            std::unique(m_entries.begin(), m_entries.end(), [&](const Entry &a, const Entry &b) {
                return equalUpToNul(bytes + a.offset, a.length, bytes + b.offset, b.length);
            });
        m_entries.erase(end, m_entries.end());
    }
}

void ExternalSorter::spillRun()
{
    sortRun();
    constexpr qsizetype BufferBytes = 1 << 20;
    std::vector<char> buffer(static_cast<size_t>(BufferBytes));
    qsizetype used = 0;
    qint64 start = -1;
    qint64 size = 0;
    auto flush = [&] {
        const qint64 at = m_spill.append(buffer.data(), used);
        if (at < 0)
            throw Errors::writeError();
        if (start < 0)
            start = at;
        size += used;
        used = 0;
    };
    for (const Entry &entry : m_entries) {
        const qsizetype record = HeaderBytes + entry.length;
        if (used + record > qsizetype(buffer.size())) {
            if (used > 0)
                flush();
            if (record > qsizetype(buffer.size()))
                buffer.resize(size_t(record));
        }
        char *to = buffer.data() + used;
        const quint32 length = entry.length;
        std::memcpy(to, &length, 4);
        std::memcpy(to + 4, &entry.number, 8);
        std::memcpy(to + HeaderBytes, m_bytes.data() + entry.offset, entry.length);
        used += record;
    }
    if (used > 0)
        flush();
    m_runs.push_back({start, size});
    m_bytes.clear();
    m_entries.clear();
}

void ExternalSorter::finish(const std::function<void(QByteArrayView, quint64)> &take)
{
    if (m_runs.empty()) { // all in memory
        sortRun();
        for (const Entry &entry : m_entries)
            take(QByteArrayView(m_bytes.data() + entry.offset, entry.length), entry.number);
    } else {
        if (!m_entries.empty())
            spillRun();
        std::vector<char>().swap(m_bytes);
        std::vector<Entry>().swap(m_entries);
        const qsizetype bufferBytes = qMax<qsizetype>(
            64 << 10, qMin<qsizetype>(1 << 20, m_runBytes / qsizetype(m_runs.size())));
        std::vector<std::unique_ptr<RunReader>> readers;
        for (const Run &run : m_runs)
            readers.push_back(std::make_unique<RunReader>(m_spill, run, bufferBytes));
        auto after = [this](const RunReader *a, const RunReader *b) {
            return recordLess(m_order, b->key(), b->number(), b->bytes(), b->length(), a->key(),
                              a->number(), a->bytes(), a->length());
        };
        std::priority_queue<RunReader *, std::vector<RunReader *>, decltype(after)> heap(after);
        for (const auto &reader : readers)
            if (!reader->atEnd())
                heap.push(reader.get());
        while (!heap.empty()) {
            RunReader *top = heap.top();
            heap.pop();
            take(QByteArrayView(top->bytes(), top->length()), top->number());
            top->next();
            if (!top->atEnd())
                heap.push(top);
        }
    }
    m_bytes.clear();
    m_entries.clear();
    m_runs.clear();
    m_spill.clear();
}
