#include "model/StoreChunk.h"

#include <cstring>

qsizetype StoreChunk::memoryBytes() const
{
    return (isWide ? 2 * wide.capacity() : narrow.capacity()) + 4 * qsizetype(ends.capacity());
}

QString StoreChunk::text(int from, int n) const
{
    return isWide ? wide.mid(from, n) : QString::fromLatin1(narrow.constData() + from, n);
}

void StoreChunk::insertText(int at, QStringView s)
{
    if (s.isEmpty())
        return;
    if (!isWide && !QtPrivate::isLatin1(s)) {
        wide = QString::fromLatin1(narrow);
        narrow = QByteArray();
        isWide = true;
    }
    if (isWide) {
        wide.insert(at, s);
        return;
    }
    const qsizetype old = narrow.size();
    narrow.resize(old + s.size());
    char *data = narrow.data();
    if (at < old)
        std::memmove(data + at + s.size(), data + at, size_t(old - at));
    const char16_t *in = s.utf16();
    for (qsizetype i = 0; i < s.size(); ++i)
        data[at + i] = char(in[i]);
}

void StoreChunk::removeText(int at, int n)
{
    if (isWide)
        wide.remove(at, n);
    else
        narrow.remove(at, n);
}
