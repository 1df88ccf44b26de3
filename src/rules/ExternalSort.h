#pragma once

// Sorting more records than memory holds, as sort(1) does.
#include "primitives/SpillFile.h"

#include <QByteArrayView>
#include <functional>
#include <memory>
#include <vector>

// Sorts records (bytes and a number) of any count in bounded memory: records are gathered
// into runs of at most runBytes (records and index), each run is sorted in memory and
// written to a spill file, and the runs are merged at the end.
class ExternalSorter
{
  public:
    enum class Order
    {
        BytesThenNumber, // bytes compared as unsigned, a shorter prefix first; then numbers
        Number           // numbers only
    };
    // With keepFirstOfEqual, of the records with equal bytes that meet in a run only the
    // first in order is kept (the merge may still hand several, one from each run); bytes
    // are compared up to their first NUL, so that a record may carry more after one.
    explicit ExternalSorter(Order order, bool keepFirstOfEqual = false,
                            qsizetype runBytes = 64 << 20);
    ~ExternalSorter();
    ExternalSorter(const ExternalSorter &) = delete;
    ExternalSorter &operator=(const ExternalSorter &) = delete;

    // Throws the write error when a run cannot be written (a full disk).
    void add(QByteArrayView bytes, quint64 number);
    // Hands every record to take in order; the sorter is empty after. The bytes are valid
    // only during the call. Throws the read error when a run cannot be read back.
    void finish(const std::function<void(QByteArrayView bytes, quint64 number)> &take);

    // The first 16 bytes of a record, big-endian, zero-padded.
    struct Key
    {
        quint64 high;
        quint64 low;
    };
    // Records are 12 bytes of header in a run and 32 of index besides their bytes.
    struct Entry
    {
        Key key;
        quint64 number;
        quint32 offset; // in the run's bytes
        quint32 length;
    };

  private:
    struct Run
    {
        qint64 offset;
        qint64 size;
    };
    class RunReader;
    bool less(const Entry &a, const Entry &b, const char *bytes) const;
    void sortRun();
    void spillRun();

    Order m_order;
    bool m_keepFirstOfEqual;
    qsizetype m_runBytes;
    std::vector<char> m_bytes; // the bytes of the run being gathered
    std::vector<Entry> m_entries;
    std::vector<Run> m_runs;
    SpillFile m_spill;
};
