#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <bit>
#include <cstring>
#include <functional>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The encodings of text files. SystemCodePage is the legacy 8-bit code page of the user's
// system: Windows-1252 where the platform has no such notion.
enum class TextEncoding
{
    None,
    SystemCodePage,
    Utf8,
    Utf16LE,
    Utf16BE
};

// Length of the byte-order mark at the start of bytes (EF BB BF, FF FE, FE FF, in that
// order of testing) and the encoding it names; 0 and encoding unchanged without one.
qsizetype detectBom(QByteArrayView bytes, TextEncoding &encoding);

QString decodeSystemCodePage(QByteArrayView bytes);
// Whether the system code page decodes every one of these bytes as the Latin-1 character
// of the same number.
bool decodesAsLatin1(QByteArrayView bytes);
// Decodes byte pairs as UTF-16 code units (unpaired surrogates kept) into out.
void decodeUtf16(const char *bytes, qsizetype units, bool littleEndian, char16_t *out);
// Appends the text in the system code page; a character it lacks becomes a substitute.
void appendSystemCodePage(QByteArray &bytes, QStringView text);
void appendSystemCodePage(QByteArray &bytes, QLatin1StringView text);
// The byte-order mark of the system code page: none, except EF BB BF for UTF-8.
QByteArrayView systemCodePageBom();

// The text up to its first NUL: all that an edit field, a memo line, the "@" test and the
// splitter see of it.
// Inline: it runs once for each line read, and most lines are short.
inline QStringView upToNul(QStringView text)
{
    const auto *s = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype size = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= size; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)))
            return text.first(i + (std::countr_zero(unsigned(mask)) >> 1));
    }
#endif
    for (; i < size; ++i)
        if (s[i] == 0)
            return text.first(i);
    return text;
}

// Whether the text holds a NUL.
inline bool holdsNul(QStringView text)
{
    return upToNul(text).size() != text.size();
}

// Index of the first CR or LF in s from from on, or size when there is none.
inline qsizetype findLineBreak(const char16_t *s, qsizetype from, qsizetype size)
{
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi16('\n');
    const __m128i cr = _mm_set1_epi16('\r');
    for (; i + 8 <= size; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)));
        if (mask)
            return i + (std::countr_zero(unsigned(mask)) >> 1);
    }
#endif
    for (; i < size; ++i)
        if (s[i] == u'\n' || s[i] == u'\r')
            return i;
    return size;
}

// Finds the CR and LF bytes of a text in order, 64 bytes at a time: where lines are short,
// each break costs a count of zeros instead of a loop that stops at every line.
class ByteBreaks
{
  public:
    ByteBreaks(const char *s, qsizetype size) : m_s(s), m_size(size) {}
    // Index of the first CR or LF from from on, or size when there is none.
    qsizetype next(qsizetype from)
    {
        while (from < m_size) {
            const qsizetype word = from & ~qsizetype(63);
            if (word != m_word) {
                m_word = word;
                m_bits = bitsAt(word);
            }
            if (const quint64 rest = m_bits >> (from - word))
                return from + std::countr_zero(rest);
            from = word + 64;
        }
        return m_size;
    }

  private:
    quint64 bitsAt(qsizetype word) const
    {
        quint64 bits = 0;
#if defined(__SSE2__)
        if (word + 64 <= m_size) {
            const __m128i lf = _mm_set1_epi8('\n');
            const __m128i cr = _mm_set1_epi8('\r');
            for (int k = 0; k < 4; ++k) {
                const __m128i v =
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(m_s + word + 16 * k));
                bits |= quint64(unsigned(_mm_movemask_epi8(
                            _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)))))
                        << (16 * k);
            }
            return bits;
        }
#endif
        for (qsizetype i = word; i < m_size && i < word + 64; ++i)
            if (m_s[i] == '\n' || m_s[i] == '\r')
                bits |= quint64(1) << (i - word);
        return bits;
    }

    const char *m_s;
    qsizetype m_size;
    qsizetype m_word = -1; // the start of the 64 bytes whose breaks m_bits marks
    quint64 m_bits = 0;
};

// The breaks of UTF-16 text in order, with the same call.
class WideBreaks
{
  public:
    WideBreaks(const char16_t *s, qsizetype size) : m_s(s), m_size(size) {}
    qsizetype next(qsizetype from) const { return findLineBreak(m_s, from, m_size); }

  private:
    const char16_t *m_s;
    qsizetype m_size;
};

// The same for Latin-1 text.
inline QLatin1StringView upToNul(QLatin1StringView text)
{
    const void *nul = std::memchr(text.data(), 0, size_t(text.size()));
    return nul ? text.first(static_cast<const char *>(nul) - text.data()) : text;
}
inline qsizetype findLineBreak(const char *s, qsizetype from, qsizetype size)
{
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        if (mask)
            return i + std::countr_zero(unsigned(mask));
    }
#endif
    for (; i < size; ++i)
        if (s[i] == '\n' || s[i] == '\r')
            return i;
    return size;
}

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

// Length of the well-formed UTF-8 character that starts at p, or 0 when none does or it
// does not fit before end.
int wellFormedLength(const uchar *p, const uchar *end);

// Number of bytes after the last complete well-formed UTF-8 character of a block, to be
// decoded with the next block. A block without any such character keeps all its bytes.
qsizetype utf8Tail(const char *data, qsizetype size);

// The bytes that UTF-8 spends on n UTF-16 units (a surrogate pair: two times two).
inline qint64 utf8Length(const char16_t *units, qsizetype n)
{
    qint64 bytes = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = units[i];
        bytes += c < 0x80 ? 1 : (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) ? 2 : 3;
    }
    return bytes;
}

// Reads a whole text file block by block and hands its decoded text to take, piece by
// piece in order; a character is never split between two pieces. The encoding (its
// byte-order mark, else the system code page) is stored in recorded before decoding, so a
// decoding failure still records it. Files of any size are read in bounded memory.
void loadTextFile(const QString &fileName, TextEncoding &recorded,
                  const std::function<void(QStringView)> &take);
// The same, where a block in the system code page whose characters are the Latin-1 ones of
// its bytes goes to takeLatin1 as it is, not decoded.
void loadTextFile(const QString &fileName, TextEncoding &recorded,
                  const std::function<void(QStringView)> &take,
                  const std::function<void(QLatin1StringView)> &takeLatin1);
// The same, told before each piece where in the file its bytes start and how many there are.
void loadTextFile(const QString &fileName, TextEncoding &recorded,
                  const std::function<void(QStringView)> &take,
                  const std::function<void(QLatin1StringView)> &takeLatin1,
                  const std::function<void(qint64 at, qint64 bytes)> &pieceAt);

// Receives the text of a save piece by piece, as UTF-16 or as Latin-1 characters.
class TextWriter
{
  public:
    virtual ~TextWriter() = default;
    virtual void operator()(QStringView piece) const = 0;
    virtual void operator()(QLatin1StringView piece) const = 0;
    // Text already encoded in the system code page.
    virtual void systemCodePageBytes(QByteArrayView bytes) const = 0;
};

// Receives encoded bytes.
using ByteSink = std::function<void(const char *data, qint64 size)>;
// Hands the text that produce hands to its writer to sink, encoded (None means the system
// code page) after its byte-order mark, a bounded buffer at a time.
void writeText(const ByteSink &sink, TextEncoding encoding,
               const std::function<void(const TextWriter &)> &produce);

// Writes the text that produce hands to its writer into the file, in the encoding (None
// means the system code page) with its byte-order mark, through a bounded buffer. The file
// is replaced only once everything is written: a failed save leaves an existing file as it
// was. inputs are the files produce reads (see FileReplacement). Throws the create or write
// error.
void saveTextFile(const QString &fileName, TextEncoding encoding,
                  const std::function<void(const TextWriter &)> &produce,
                  const QStringList &inputs = {});
void saveTextFile(const QString &fileName, QStringView text, TextEncoding encoding);
