#pragma once

// Windows-1252, the code page of Western European Windows: the system code page on Linux
// (the platform layer's), built and tested on every system.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace Windows1252 {

QString decode(QByteArrayView bytes);
// Whether every one of the bytes decodes to the Latin-1 character of the same number (none
// lies in 0x80-0x9F).
bool decodesAsLatin1(QByteArrayView bytes);
// Appends the text encoded; a character the code page lacks becomes '?'.
void append(QByteArray &bytes, QStringView text);
void append(QByteArray &bytes, QLatin1StringView text);

} // namespace Windows1252
