#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstring>
#include <functional>

#include "primitives/Scan.h"

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
inline QStringView upToNul(QStringView text)
{
    return text.first(
        Scan::nulIndex(reinterpret_cast<const char16_t *>(text.utf16()), text.size()));
}

// Whether the text holds a NUL.
inline bool holdsNul(QStringView text)
{
    return upToNul(text).size() != text.size();
}

// The same for Latin-1 text.
inline QLatin1StringView upToNul(QLatin1StringView text)
{
    const void *nul = std::memchr(text.data(), 0, size_t(text.size()));
    return nul ? text.first(static_cast<const char *>(nul) - text.data()) : text;
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
