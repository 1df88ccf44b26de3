#include "rules/ExternalSort.h"

#include "primitives/Errors.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <queue>

namespace {

quint64 prefixOf(const char *bytes, qsizetype length)
{
    uchar first[8] = {};
    std::memcpy(first, bytes, size_t(qMin<qsizetype>(length, 8)));
    quint64 prefix = 0;
    for (const uchar b : first)
        prefix = prefix << 8 | b;
    return prefix;
}

int compareBytes(const char *a, qsizetype na, const char *b, qsizetype nb)
{
    const int c = std::memcmp(a, b, size_t(qMin(na, nb)));
    return c != 0 ? c : na < nb ? -1 : na > nb ? 1 : 0;
}

// The order of two records, from their prefixes, numbers and bytes.
bool recordLess(ExternalSorter::Order order, quint64 prefixA, quint64 numberA, const char *a,
                qsizetype na, quint64 prefixB, quint64 numberB, const char *b, qsizetype nb)
{
    if (order == ExternalSorter::Order::Number)
        return numberA < numberB;
    if (prefixA != prefixB)
        return prefixA < prefixB;
    if (na > 8 || nb > 8) {
        if (const int c = compareBytes(a, na, b, nb))
            return c < 0;
    } else if (na != nb) {
        return na < nb; // equal prefixes: the shorter is a prefix of the longer
    }
    return numberA < numberB;
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
    quint64 prefix() const { return m_prefix; }

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
        m_prefix = prefixOf(bytes(), m_length);
    }

  private:
    // Makes sure the buffer holds n bytes from m_start; false at the run's end.
    bool fill(qsizetype n)
    {
        const qsizetype held = m_buffer.size() - m_start;
        if (held >= n)
            return true;
        const qint64 left = m_end - m_position;
        if (held == 0 && left == 0)
            return false;
        if (held + left < n)
            throw Errors::readError();
        QByteArray buffer(qMax(n, qsizetype(qMin<qint64>(qMax(m_bufferBytes, n), held + left))),
                          Qt::Uninitialized);
        std::memcpy(buffer.data(), m_buffer.constData() + m_start, size_t(held));
        const qint64 more = qMin<qint64>(buffer.size() - held, left);
        if (!m_spill.read(m_position, buffer.data() + held, more))
            throw Errors::readError();
        m_position += more;
        buffer.resize(held + more);
        m_buffer = std::move(buffer);
        m_start = 0;
        return true;
    }

    const SpillFile &m_spill;
    qint64 m_position;
    const qint64 m_end;
    const qsizetype m_bufferBytes;
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qsizetype m_length = 0;
    quint64 m_number = 0;
    quint64 m_prefix = 0;
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
    m_entries.push_back(
        {prefixOf(bytes.data(), bytes.size()), number, offset, quint32(bytes.size())});
}

bool ExternalSorter::less(const Entry &a, const Entry &b, const char *bytes) const
{
    return recordLess(m_order, a.prefix, a.number, bytes + a.offset, a.length, b.prefix, b.number,
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
                return a.prefix == b.prefix && a.length == b.length &&
                       std::memcmp(bytes + a.offset, bytes + b.offset, a.length) == 0;
            });
        m_entries.erase(end, m_entries.end());
    }
}

void ExternalSorter::spillRun()
{
    sortRun();
    QByteArray buffer;
    buffer.reserve(1 << 20);
    qint64 start = -1;
    qint64 size = 0;
    auto flush = [&] {
        const qint64 at = m_spill.append(buffer.constData(), buffer.size());
        if (at < 0)
            throw Errors::writeError();
        if (start < 0)
            start = at;
        size += buffer.size();
        buffer.clear();
    };
    for (const Entry &entry : m_entries) {
        const quint32 length = entry.length;
        buffer.append(reinterpret_cast<const char *>(&length), 4);
        buffer.append(reinterpret_cast<const char *>(&entry.number), 8);
        buffer.append(m_bytes.data() + entry.offset, entry.length);
        if (buffer.size() >= (1 << 20))
            flush();
    }
    if (!buffer.isEmpty())
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
            return recordLess(m_order, b->prefix(), b->number(), b->bytes(), b->length(),
                              a->prefix(), a->number(), a->bytes(), a->length());
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
