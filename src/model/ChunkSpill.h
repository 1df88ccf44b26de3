#pragma once

#include "primitives/SpillFile.h"

#include <QByteArray>
#include <QString>
#include <vector>

// Where the chunks of a line store go when they leave memory: a private spill file in which
// a chunk is its line ends (32-bit offsets into its text) followed by its text, Latin-1
// bytes (narrow) or UTF-16 (wide). Only this class knows that layout.
class ChunkSpill
{
  public:
    // Writes a chunk; where it starts, or -1 when it cannot be written (a full disk).
    qint64 write(const std::vector<int> &ends, const QByteArray &narrow, const QString &wide,
                 bool isWide);
    // Writes one line as a chunk of its own, as Latin-1 bytes unless isWide.
    qint64 writeLine(QStringView line, bool isWide);
    // Reads back the chunk of lines lines and chars characters written at at into ends and
    // narrow or wide (their buffers reused); false when the system read fails.
    bool read(qint64 at, int lines, int chars, bool isWide, std::vector<int> &ends,
              QByteArray &narrow, QString &wide) const;
    // Line k of such a chunk, at most maxLength characters of it, read without the rest;
    // false when the system read fails.
    bool readLine(qint64 at, int lines, bool isWide, int k, qsizetype maxLength,
                  QString &line) const;
    qint64 size() const { return m_file.size(); }
    void clear() { m_file.clear(); }

  private:
    SpillFile m_file;
};
