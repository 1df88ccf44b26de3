#include "primitives/SpillFile.h"

#include <utility>

SpillFile::~SpillFile()
{
    release();
}

SpillFile::SpillFile(SpillFile &&other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_end(std::exchange(other.m_end, 0))
{
}

SpillFile &SpillFile::operator=(SpillFile &&other) noexcept
{
    if (this != &other) {
        release();
        m_handle = std::exchange(other.m_handle, -1);
        m_end = std::exchange(other.m_end, 0);
    }
    return *this;
}

qint64 SpillFile::append(const char *data, qint64 size)
{
    if (m_handle == -1 && !create())
        return -1;
    if (!writeAt(m_end, data, size))
        return -1;
    const qint64 at = m_end;
    m_end += size;
    return at;
}

void SpillFile::clear()
{
    release();
    m_end = 0;
}
