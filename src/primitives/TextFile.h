#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// The encodings of text files. SystemCodePage is the legacy 8-bit code page of the user's
// system: Windows-1252 where the platform has no such notion.
enum class TextEncoding { None, SystemCodePage, Utf8, Utf16LE, Utf16BE };

// Length of the byte-order mark at the start of bytes (EF BB BF, FF FE, FE FF, in that
// order of testing) and the encoding it names; 0 and encoding unchanged without one.
qsizetype detectBom(QByteArrayView bytes, TextEncoding &encoding);

QString decodeSystemCodePage(QByteArrayView bytes);
// Decodes byte pairs as UTF-16 code units (unpaired surrogates kept) into out.
void decodeUtf16(const char *bytes, qsizetype units, bool littleEndian, char16_t *out);
QByteArray encodeSystemCodePage(QStringView text);

// Reads a whole text file for a line list. The encoding (its byte-order mark, else the
// system code page) is stored in recorded before decoding, so a decoding failure still
// records it. Files of 2 GiB or more are refused with the memo-capacity error.
QString loadTextFile(const QString &fileName, TextEncoding &recorded);

// The text as a memo holds it: every line break (CR LF, lone CR, lone LF) turned into
// CR LF, and nothing from the first NUL on.
QString memoText(QStringView text);

// The text of a list box: every item followed by CR LF.
QString listText(const QStringList &items);

// Writes text to the file in the encoding (None means the system code page), with its
// byte-order mark. The file is replaced only once everything is written: a failed save
// leaves an existing file as it was. Throws the create or write error.
void saveTextFile(const QString &fileName, QStringView text, TextEncoding encoding);
