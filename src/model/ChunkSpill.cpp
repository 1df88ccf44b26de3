#include "model/ChunkSpill.h"

qint64 ChunkSpill::write(const std::vector<int> &ends, const QByteArray &narrow,
                         const QString &wide, bool isWide)
{
    const qint64 at = m_file.append(reinterpret_cast<const char *>(ends.data()),
                                    qint64(ends.size() * sizeof(int)));
    const bool written =
        at >= 0 &&
        (isWide ? m_file.append(reinterpret_cast<const char *>(wide.constData()), 2 * wide.size())
                : m_file.append(narrow.constData(), narrow.size())) >= 0;
    return written ? at : -1;
}

qint64 ChunkSpill::writeLine(QStringView line, bool isWide)
{
    const int length = int(line.size());
    const qint64 at = m_file.append(reinterpret_cast<const char *>(&length), sizeof(int));
    bool written = at >= 0;
    if (isWide) {
        written = written && m_file.append(reinterpret_cast<const char *>(line.data()),
                                           2 * qint64(length)) >= 0;
    } else {
        for (int done = 0; written && done < length;) { // narrowed a piece at a time
            const int n = qMin(length - done, 1 << 20);
            const QByteArray piece = line.sliced(done, n).toLatin1();
            written = m_file.append(piece.constData(), n) >= 0;
            done += n;
        }
    }
    return written ? at : -1;
}

bool ChunkSpill::read(qint64 at, int lines, int chars, bool isWide, std::vector<int> &ends,
                      QByteArray &narrow, QString &wide) const
{
    const qint64 endBytes = qint64(lines) * qint64(sizeof(int));
    ends.resize(size_t(lines));
    char *text;
    if (isWide) {
        wide.resize(chars);
        text = reinterpret_cast<char *>(wide.data());
    } else {
        narrow.resize(chars);
        text = narrow.data();
    }
    return m_file.read(at, reinterpret_cast<char *>(ends.data()), endBytes) &&
           m_file.read(at + endBytes, text, qint64(chars) * (isWide ? 2 : 1));
}

bool ChunkSpill::readLine(qint64 at, int lines, bool isWide, int k, qsizetype maxLength,
                          QString &line) const
{
    int bounds[2] = {0, 0}; // the line's start and end in the chunk's text
    const qint64 endsAt = at + qint64(k == 0 ? 0 : k - 1) * qint64(sizeof(int));
    bool read = k == 0 ? m_file.read(endsAt, reinterpret_cast<char *>(&bounds[1]), sizeof(int))
                       : m_file.read(endsAt, reinterpret_cast<char *>(bounds), 2 * sizeof(int));
    const qint64 textAt = at + qint64(lines) * qint64(sizeof(int));
    const int length = int(qMin<qsizetype>(bounds[1] - bounds[0], maxLength));
    line.resize(length);
    if (isWide)
        return read && m_file.read(textAt + 2 * qint64(bounds[0]),
                                   reinterpret_cast<char *>(line.data()), 2 * qint64(length));
    // Latin-1 bytes read a piece at a time and widened in place.
    QByteArray piece;
    char16_t *out = reinterpret_cast<char16_t *>(line.data());
    for (int done = 0; read && done < length;) {
        const int n = qMin(length - done, 1 << 20);
        piece.resize(n);
        read = m_file.read(textAt + bounds[0] + done, piece.data(), n);
        const auto *bytes = reinterpret_cast<const uchar *>(piece.constData());
        for (int i = 0; i < n; ++i)
            out[done + i] = bytes[i];
        done += n;
    }
    return read;
}
