#include "primitives/Scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Each loop below holds its two twins: the vector one (SSE2, sixteen bytes at a time) and
// the plain one, the same result a unit at a time. Both are built where SSE2 is; Scan.h
// says which one the program calls.
namespace Scan {

#if defined(__SSE2__)
namespace {
__m128i load(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}
// A mask bit for each byte of v (two for each character of wide text) equal to one of
// those of a or b.
unsigned equalBits8(__m128i v, __m128i a, __m128i b)
{
    return unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b))));
}
__m128i equal16(__m128i v, char16_t c)
{
    return _mm_cmpeq_epi16(v, _mm_set1_epi16(short(c)));
}
// The control characters and spaces (U+0001 to U+0020) among eight characters, two mask
// bits each.
unsigned controlBits(const char16_t *p)
{
    const __m128i t = _mm_sub_epi16(load(p), _mm_set1_epi16(1)); // NUL wraps round to 0xFFFF
    return unsigned(_mm_movemask_epi8(
        _mm_cmpeq_epi16(_mm_subs_epu16(t, _mm_set1_epi16(31)), _mm_setzero_si128())));
}
} // namespace
#endif

static bool isBreak(char16_t c)
{
    return c == u'\n' || c == u'\r';
}
static bool isControl(char16_t c)
{
    return c >= 1 && c <= 32;
}

template <Twin twin> quint64 breakMarks(const char *p)
{
    quint64 bits = 0;
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
        for (int k = 0; k < 4; ++k)
            bits |= quint64(equalBits8(load(p + 16 * k), lf, cr)) << (16 * k);
        return bits;
    }
#endif
    for (int i = 0; i < 64; ++i)
        bits |= quint64(isBreak(uchar(p[i]))) << i;
    return bits;
}

template <Twin twin> quint64 breakMarks(const char16_t *p)
{
    quint64 bits = 0;
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        auto breaksOf = [&](int at) {
            const __m128i v = load(p + at);
            return _mm_or_si128(equal16(v, u'\n'), equal16(v, u'\r'));
        };
        for (int k = 0; k < 4; ++k) // 16 characters to 16 bits
            bits |= quint64(unsigned(
                        _mm_movemask_epi8(_mm_packs_epi16(breaksOf(16 * k), breaksOf(16 * k + 8)))))
                    << (16 * k);
        return bits;
    }
#endif
    for (int i = 0; i < 64; ++i)
        bits |= quint64(isBreak(p[i])) << i;
    return bits;
}

template <Twin twin>
qsizetype nextCandidate(const char *text, qsizetype from, qsizetype end, const uchar first[2],
                        const uchar last[2], qsizetype gap)
{
    qsizetype i = from;
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        const __m128i first0 = _mm_set1_epi8(char(first[0])),
                      first1 = _mm_set1_epi8(char(first[1]));
        const __m128i last0 = _mm_set1_epi8(char(last[0])), last1 = _mm_set1_epi8(char(last[1]));
        for (; i + 16 <= end; i += 16)
            if (const unsigned mask = equalBits8(load(text + i), first0, first1) &
                                      equalBits8(load(text + i + gap), last0, last1))
                return i + std::countr_zero(mask);
    }
#endif
    for (; i < end; ++i) {
        const uchar a = uchar(text[i]), b = uchar(text[i + gap]);
        if ((a == first[0] || a == first[1]) && (b == last[0] || b == last[1]))
            return i;
    }
    return end;
}

template <Twin twin> AtMarks atMarks(const char16_t *s, qsizetype n)
{
    AtMarks marks{n, -1, false};
    qsizetype i = 0;
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        // Eight characters at a time; only a block holding a NUL, "@" or '"' is looked into.
        for (; i + 8 <= n; i += 8) {
            const __m128i v = load(s + i);
            const __m128i nul = equal16(v, 0), at = equal16(v, u'@'), quote = equal16(v, u'"');
            if (!_mm_movemask_epi8(_mm_or_si128(nul, _mm_or_si128(at, quote))))
                continue;
            // Two mask bits a character.
            const unsigned nulBits = unsigned(_mm_movemask_epi8(nul));
            const unsigned atBits = unsigned(_mm_movemask_epi8(at));
            const unsigned quoteBits = unsigned(_mm_movemask_epi8(quote));
            const unsigned before = nulBits ? (1u << std::countr_zero(nulBits)) - 1 : 0xFFFFu;
            if (marks.firstAt < 0 && (atBits & before))
                marks.firstAt = i + (std::countr_zero(atBits & before) >> 1);
            if (quoteBits & before)
                marks.hasQuote = true;
            if (nulBits) {
                marks.length = i + (std::countr_zero(nulBits) >> 1);
                return marks;
            }
        }
    }
#endif
    for (; i < n; ++i) {
        const char16_t c = s[i];
        if (c == 0) {
            marks.length = i;
            return marks;
        }
        if (c == u'@' && marks.firstAt < 0)
            marks.firstAt = i;
        else if (c == u'"')
            marks.hasQuote = true;
    }
    return marks;
}

template <Twin twin> qsizetype nextControl(const char16_t *s, qsizetype from, qsizetype n)
{
    qsizetype i = from;
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        for (; i + 8 <= n; i += 8)
            if (const unsigned bits = controlBits(s + i))
                return i + (std::countr_zero(bits) >> 1);
        if (i < n && n >= 8) { // the rest as the end of a block that overlaps the one before
            const qsizetype back = 8 - (n - i);
            const unsigned bits = controlBits(s + n - 8) >> (2 * back);
            return bits ? i + (std::countr_zero(bits) >> 1) : n;
        }
    }
#endif
    while (i < n && !isControl(s[i]))
        ++i;
    return i;
}

template <Twin twin>
qsizetype afterPreviousControl(const char16_t *s, qsizetype before, qsizetype n)
{
    qsizetype i = before;
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        for (; i >= 8; i -= 8)
            if (const unsigned bits = controlBits(s + i - 8))
                return i - 8 + ((31 - std::countl_zero(bits)) >> 1) + 1;
        if (i > 0 && n >= 8) { // the first characters as a block that overlaps the next
            const unsigned bits = controlBits(s) & ((1u << (2 * i)) - 1);
            return bits ? ((31 - std::countl_zero(bits)) >> 1) + 1 : 0;
        }
    }
#else
    Q_UNUSED(n);
#endif
    while (i > 0 && !isControl(s[i - 1]))
        --i;
    return i;
}

template <Narrow kind, Twin twin> bool narrowLong(char *out, const char16_t *in, qsizetype n)
{
#if defined(__SSE2__)
    if constexpr (twin == Twin::Vector) {
        // Eight characters at a time, the last eight overlapping the ones before.
        const __m128i high = _mm_set1_epi16(short(kind == Narrow::Ascii ? 0xFF80 : 0xFF00));
        const __m128i zero = _mm_setzero_si128();
        for (qsizetype i = 0;; i += 8) {
            i = qMin(i, n - 8);
            const __m128i v = load(in + i);
            __m128i kept = _mm_cmpeq_epi16(_mm_and_si128(v, high), zero);
            if constexpr (kind == Narrow::Latin1NoNul)
                kept = _mm_andnot_si128(_mm_cmpeq_epi16(v, zero), kept);
            if (_mm_movemask_epi8(kept) != 0xFFFF)
                return false;
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(v, v));
            if (i == n - 8)
                return true;
        }
    }
#endif
    const char16_t widest = kind == Narrow::Ascii ? 0x7F : 0xFF;
    for (qsizetype i = 0; i < n; ++i) {
        if (in[i] > widest || (kind == Narrow::Latin1NoNul && in[i] == 0))
            return false;
        out[i] = char(in[i]);
    }
    return true;
}

#define QUORVANE_SCAN_TWIN(twin)                                                                   \
    template quint64 breakMarks<twin>(const char *);                                               \
    template quint64 breakMarks<twin>(const char16_t *);                                           \
    template qsizetype nextCandidate<twin>(const char *, qsizetype, qsizetype, const uchar[2],     \
                                           const uchar[2], qsizetype);                             \
    template AtMarks atMarks<twin>(const char16_t *, qsizetype);                                   \
    template qsizetype nextControl<twin>(const char16_t *, qsizetype, qsizetype);                  \
    template qsizetype afterPreviousControl<twin>(const char16_t *, qsizetype, qsizetype);         \
    template bool narrowLong<Narrow::Ascii, twin>(char *, const char16_t *, qsizetype);            \
    template bool narrowLong<Narrow::Latin1, twin>(char *, const char16_t *, qsizetype);           \
    template bool narrowLong<Narrow::Latin1NoNul, twin>(char *, const char16_t *, qsizetype);
QUORVANE_SCAN_TWIN(Twin::Plain)
#if defined(__SSE2__)
QUORVANE_SCAN_TWIN(Twin::Vector)
#endif

} // namespace Scan
