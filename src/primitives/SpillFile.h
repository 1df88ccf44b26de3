#pragma once

#include <QtGlobal>

// A private scratch file that holds what does not need to stay in memory. It is created on
// first use in the system's folder for temporary files and removed by the system when the
// program ends, however it ends (unlinked at once on POSIX, deleted on close on Windows).
class SpillFile
{
  public:
    SpillFile() = default;
    ~SpillFile();
    SpillFile(SpillFile &&other) noexcept;
    SpillFile &operator=(SpillFile &&other) noexcept;
    SpillFile(const SpillFile &) = delete;
    SpillFile &operator=(const SpillFile &) = delete;

    // Writes size bytes after everything written before; where they start, or -1 when the
    // file cannot be made or not every byte could be written (a full disk).
    qint64 append(const char *data, qint64 size);
    // Reads size bytes written before at offset; false when the system read fails.
    bool read(qint64 offset, char *data, qint64 size) const;
    qint64 size() const { return m_end; } // bytes written since it was made or cleared
    // Forgets everything written, giving the space back.
    void clear();

  private:
    bool create();                                              // in the platform layer
    void release();                                             // in the platform layer
    bool writeAt(qint64 offset, const char *data, qint64 size); // in the platform layer

    qintptr m_handle = -1; // a file descriptor, or a Windows HANDLE
    qint64 m_end = 0;
};
