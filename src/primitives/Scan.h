#pragma once

#include <QtGlobal>

#include <bit>
#include <cstring>

// The loops that look at text many characters at a time.
//
// The loops over whole blocks are function templates with two twins in Scan.cpp, side by
// side in one body: the plain one in portable C++ and the vector one (SSE2). A build picks
// one twin for all callers (Chosen: the vector one where the processor has SSE2, unless
// QUORVANE_PLAIN_SCAN is defined, as the sanitized build does so that every test and fuzzer
// runs the plain twins); the tests compare the two directly. Neither twin shows an
// intrinsic outside Scan.cpp.
//
// The loops that run once per line (narrow for short lines, nulIndex, Breaks' use of its
// marks) are inline here, in portable C++ that reads eight bytes as one integer: a call per
// line would cost more than the loop.
namespace Scan {

enum class Twin
{
    Plain,
    Vector
};
#if defined(__SSE2__)
inline constexpr bool HasVector = true;
#else
inline constexpr bool HasVector = false;
#endif
#if defined(__SSE2__) && !defined(QUORVANE_PLAIN_SCAN)
inline constexpr Twin Chosen = Twin::Vector;
#else
inline constexpr Twin Chosen = Twin::Plain;
#endif

// A bit for each of the 64 units from p on (all readable), set for a CR or LF.
template <Twin twin = Chosen> quint64 breakMarks(const char *p);
template <Twin twin = Chosen> quint64 breakMarks(const char16_t *p);

// Index of the first i in [from, end) where text[i] is one of first[0], first[1] and
// text[i + gap] one of last[0], last[1] (text holds end + gap bytes), or end: the places
// where a search needle's first and last bytes agree.
template <Twin twin = Chosen>
qsizetype nextCandidate(const char *text, qsizetype from, qsizetype end, const uchar first[2],
                        const uchar last[2], qsizetype gap);

// In one pass over s: its length up to its first NUL (n when none), the first "@" before
// that NUL (-1 when none) and whether a double quote comes before it.
struct AtMarks
{
    qsizetype length;
    qsizetype firstAt;
    bool hasQuote;
};
template <Twin twin = Chosen> AtMarks atMarks(const char16_t *s, qsizetype n);

// Index of the first control character or space (U+0001 to U+0020) of s[0, n) at or after
// from, or n.
template <Twin twin = Chosen> qsizetype nextControl(const char16_t *s, qsizetype from, qsizetype n);
// Index after the last control character or space of s[0, n) before `before`, or 0.
template <Twin twin = Chosen>
qsizetype afterPreviousControl(const char16_t *s, qsizetype before, qsizetype n);

// The widest character each narrowing keeps, and whether it refuses a NUL.
enum class Narrow
{
    Ascii,      // up to U+007F
    Latin1,     // up to U+00FF
    Latin1NoNul // U+0001 to U+00FF
};

// narrow (below) for more than 16 characters.
template <Narrow kind, Twin twin = Chosen>
bool narrowLong(char *out, const char16_t *in, qsizetype n);

namespace Words {
// Four UTF-16 units as one integer, the first in the low bits.
inline quint64 load4(const char16_t *p)
{
    static_assert(std::endian::native == std::endian::little);
    quint64 w;
    std::memcpy(&w, p, 8);
    return w;
}
inline constexpr quint64 Low = 0x0001000100010001u;
inline constexpr quint64 High = 0x8000800080008000u;
// The top bit of each unit of w that is zero (exact for the first such unit).
inline quint64 zeroUnits(quint64 w)
{
    return (w - Low) & ~w & High;
}
// Whether the units of a and b are all kept by the narrowing.
template <Narrow kind> inline bool kept(quint64 a, quint64 b)
{
    if constexpr (kind == Narrow::Ascii)
        return ((a | b) & 0xFF80FF80FF80FF80u) == 0;
    if ((a | b) & 0xFF00FF00FF00FF00u)
        return false;
    if constexpr (kind ==
                  Narrow::Latin1NoNul) // units under 0x100: + 0x7FFF sets the top bit of each but 0
        return ((a + 0x7FFF7FFF7FFF7FFFu) & (b + 0x7FFF7FFF7FFF7FFFu) & High) == High;
    return true;
}
// The four units of w, each under 0x100, as four bytes in order.
inline quint64 pack4(quint64 w)
{
    w = (w | (w >> 8)) & 0x0000FFFF0000FFFFu;
    return (w | (w >> 16)) & 0xFFFFFFFFu;
}
} // namespace Words

// Copies n characters into out as bytes; false (out then holds rubbish) when one of them is
// not kept by kind. Up to 16 characters (most lines) are checked and packed here, eight at a
// time, the last eight overlapping the ones before, four at a time below eight; longer
// text by narrowLong's twins.
template <Narrow kind> Q_ALWAYS_INLINE bool narrow(char *out, const char16_t *in, qsizetype n)
{
    using namespace Words;
    if (n > 16)
        return narrowLong<kind>(out, in, n);
    if (n >= 8) {
        for (qsizetype i = 0;; i += 8) {
            i = qMin(i, n - 8);
            const quint64 a = load4(in + i), b = load4(in + i + 4);
            if (!kept<kind>(a, b))
                return false;
            const quint64 bytes = pack4(a) | pack4(b) << 32;
            std::memcpy(out + i, &bytes, 8);
            if (i == n - 8)
                return true;
        }
    }
    if (n >= 4) {
        const quint64 a = load4(in), b = load4(in + n - 4);
        if (!kept<kind>(a, b))
            return false;
        const quint32 first = quint32(pack4(a)), last = quint32(pack4(b));
        std::memcpy(out, &first, 4);
        std::memcpy(out + n - 4, &last, 4);
        return true;
    }
    unsigned all = 0; // checked once at the end
    bool nul = false;
    for (qsizetype i = 0; i < n; ++i) {
        all |= in[i];
        nul |= kind == Narrow::Latin1NoNul && in[i] == 0;
        out[i] = char(in[i]);
    }
    return all <= (kind == Narrow::Ascii ? 0x7Fu : 0xFFu) && !nul;
}

// Index of the first NUL of s[0, n), or n; four characters are looked at a time.
inline qsizetype nulIndex(const char16_t *s, qsizetype n)
{
    using namespace Words;
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4)
        if (const quint64 zeros = zeroUnits(load4(s + i)))
            return i + std::countr_zero(zeros) / 16;
    for (; i < n; ++i)
        if (s[i] == 0)
            return i;
    return n;
}

// The CR and LF units of a text in order, 64 at a time: where lines are short, each break
// costs a count of zeros instead of a loop that stops at every line.
template <typename Unit> class Breaks
{
  public:
    Breaks(const Unit *s, qsizetype size) : m_s(s), m_size(size) {}
    // Index of the first CR or LF from from on, or size when there is none.
    qsizetype next(qsizetype from)
    {
        while (from < m_size) {
            const qsizetype word = from & ~qsizetype(63);
            if (word != m_word) {
                m_word = word;
                m_bits = word + 64 <= m_size ? breakMarks(m_s + word) : tailMarks(word);
            }
            if (const quint64 rest = m_bits >> (from - word))
                return from + std::countr_zero(rest);
            from = word + 64;
        }
        return m_size;
    }
    // Where the line that ends at end (a break, or size) is followed by the next one: after
    // CR LF, CR or LF.
    qsizetype after(qsizetype end) const
    {
        if (end == m_size)
            return end;
        return end + (m_s[end] == '\r' && end + 1 < m_size && m_s[end + 1] == '\n' ? 2 : 1);
    }

  private:
    quint64 tailMarks(qsizetype word) const
    {
        quint64 bits = 0;
        for (qsizetype i = word; i < m_size; ++i)
            if (m_s[i] == '\n' || m_s[i] == '\r')
                bits |= quint64(1) << (i - word);
        return bits;
    }

    const Unit *m_s;
    qsizetype m_size;
    qsizetype m_word = -1; // the start of the 64 units whose breaks m_bits marks
    quint64 m_bits = 0;
};

// Copies size bytes. A short stretch (most lines and their parts are short) is moved in two
// overlapping moves of a fixed size, without a call; a longer one by memcpy.
Q_ALWAYS_INLINE void copyBytes(void *to, const void *from, qsizetype size)
{
    auto *d = static_cast<char *>(to);
    const auto *s = static_cast<const char *>(from);
    auto move = [](char *d, const char *s, auto unit) {
        std::memcpy(&unit, s, sizeof unit);
        std::memcpy(d, &unit, sizeof unit);
    };
    if (size > 16) {
        std::memcpy(d, s, size_t(size));
    } else if (size >= 8) {
        move(d, s, quint64());
        move(d + size - 8, s + size - 8, quint64());
    } else if (size >= 4) {
        move(d, s, quint32());
        move(d + size - 4, s + size - 4, quint32());
    } else if (size >= 2) {
        move(d, s, quint16());
        move(d + size - 2, s + size - 2, quint16());
    } else if (size == 1) {
        *d = *s;
    }
}

// Copies a line of length bytes from s, where s + 16 <= end allows it as one block of 16
// (most lines are short): out must have room for 16 bytes, and what the block writes past
// the line is written over next.
Q_ALWAYS_INLINE void copyLine(char *out, const char *s, qsizetype length, const char *end)
{
    if (length <= 16 && end - s >= 16)
        std::memcpy(out, s, 16);
    else
        std::memcpy(out, s, size_t(length));
}

} // namespace Scan
