#pragma once

#include <QChar>
#include <QString>

// Number texts shown and read by the windows.
namespace Numbers {

// Reads an edit field's text as a signed 32-bit integer: blanks before, an optional sign,
// decimal digits or hexadecimal ones after "$", "x", "X", "0x" or "0X", nothing after.
// Anything else, or a value that does not fit, throws the conversion error.
int StrToInt(const QString &text);
// The same for a signed 64-bit integer.
qint64 StrToInt64(const QString &text);

// The decimal separator of the user's locale, read once at start-up.
QChar decimalSeparator();
void setDecimalSeparator(QChar separator);

// 15 significant digits, fixed notation for exponents -3..15, else scientific ("5E-5").
QString formatGeneral(double value);

// The "0.0" pattern: one decimal, rounded half away from zero.
QString formatOneDecimal(double value);

} // namespace Numbers
