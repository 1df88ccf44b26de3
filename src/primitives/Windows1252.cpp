#include "primitives/Windows1252.h"

#include "primitives/Scan.h"

#include <cstring>

namespace {

// Windows-1252 at 0x80-0x9F; the five unassigned bytes map to the same C1 code points.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char Substitute = '?';

// Whether any byte lies in 0x80-0x9F, where Windows-1252 is not Latin-1. As signed bytes
// they are the ones below -96 (0xA0): one comparison a byte, in a loop the compiler turns
// into vector code of 16 bytes a step.
bool hasC1(const char *bytes, qsizetype size)
{
    signed char found = 0;
    for (qsizetype i = 0; i < size; ++i)
        found |= static_cast<signed char>(static_cast<signed char>(bytes[i]) < -96);
    return found != 0;
}

} // namespace

namespace Windows1252 {

QString decode(QByteArrayView bytes)
{
    // Latin-1 first, then the few bytes where Windows-1252 differs from it.
    QString text = QString::fromLatin1(bytes);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    if (hasC1(bytes.data(), bytes.size()))
        for (qsizetype i = 0; i < text.size(); ++i)
            if (out[i] >= 0x80 && out[i] < 0xA0)
                out[i] = Cp1252High[out[i] - 0x80];
    return text;
}

bool decodesAsLatin1(QByteArrayView bytes)
{
    return !hasC1(bytes.data(), bytes.size());
}

void append(QByteArray &bytes, QStringView text)
{
    const qsizetype old = bytes.size();
    bytes.resize(old + text.size());
    char *out = bytes.data() + old;
    const char16_t *in = text.utf16();
    const char16_t *const end = in + text.size();
    auto encode = [](char16_t c) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
            return char(c);
        for (int k = 0; k < 32; ++k)
            if (Cp1252High[k] == c)
                return char(0x80 + k);
        return Substitute;
    };
    // Eight characters at a time: a block of ASCII, which the code page keeps as it is, is
    // packed into bytes at once.
    for (qsizetype n; (n = qMin<qsizetype>(end - in, 8)) > 0; in += n, out += n)
        if (!Scan::narrow<Scan::Narrow::Ascii>(out, in, n))
            for (qsizetype k = 0; k < n; ++k)
                out[k] = encode(in[k]);
}

// Windows-1252 is Latin-1 but for 0x80-0x9F, where only its five unassigned bytes keep
// their C1 code points.
void append(QByteArray &bytes, QLatin1StringView text)
{
    const qsizetype old = bytes.size();
    bytes.resize(old + text.size());
    char *out = bytes.data() + old;
    std::memcpy(out, text.data(), size_t(text.size()));
    if (!hasC1(out, text.size()))
        return;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const uchar b = uchar(out[i]);
        if (b >= 0x80 && b < 0xA0 && Cp1252High[b - 0x80] != b)
            out[i] = Substitute;
    }
}

} // namespace Windows1252
