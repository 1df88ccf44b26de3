#include "primitives/Numbers.h"

#include "primitives/Errors.h"

#include <QLocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Numbers {

static qint64 convert(const QString &text, qint64 maxPositive)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    int base = 10;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        throw Errors::conversionError(text);
    // Accumulate as unsigned so that the negative limit's magnitude fits.
    const quint64 limit = negative ? quint64(maxPositive) + 1 : quint64(maxPositive);
    quint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        const int digit = (c >= '0' && c <= '9')               ? c - '0'
                          : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                               : -1;
        if (digit < 0)
            throw Errors::conversionError(text);
        if (value > (limit - quint64(digit)) / quint64(base))
            throw Errors::conversionError(text);
        value = value * quint64(base) + quint64(digit);
    }
    return negative ? qint64(0 - value) : qint64(value);
}

int StrToInt(const QString &text)
{
    return int(convert(text, 0x7FFFFFFF));
}
qint64 StrToInt64(const QString &text)
{
    return convert(text, 0x7FFFFFFFFFFFFFFF);
}

static QChar &separatorStorage()
{
    static QChar separator = [] {
        const QString point = QLocale::system().decimalPoint();
        return point.isEmpty() ? QChar(u'.') : point.front();
    }();
    return separator;
}

QChar decimalSeparator()
{
    return separatorStorage();
}
void setDecimalSeparator(QChar separator)
{
    separatorStorage() = separator;
}

QString formatGeneral(double value)
{
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral("0");
    // d.dddddddddddddde±x: 15 significant digits, correctly rounded.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    QString digits;
    for (const char *p = buffer; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += QLatin1Char(*p);
    int exponent = std::atoi(std::strchr(buffer, 'e') + 1) + 1; // as 0.d1d2... x 10^e
    while (digits.size() > 1 && digits.endsWith(u'0'))
        digits.chop(1);
    const QChar sep = decimalSeparator();
    QString out = value < 0 ? QStringLiteral("-") : QString();
    if (exponent >= -3 && exponent <= 15) {
        if (exponent <= 0) {
            out += u'0';
            out += sep;
            out += QString(-exponent, u'0');
            out += digits;
        } else if (digits.size() <= exponent) {
            out += digits;
            out += QString(exponent - digits.size(), u'0');
        } else {
            out += digits.left(exponent);
            out += sep;
            out += digits.mid(exponent);
        }
        return out;
    }
    out += digits.front();
    if (digits.size() > 1) {
        out += sep;
        out += digits.mid(1);
    }
    out += u'E';
    out += QString::number(exponent - 1);
    return out;
}

QString formatOneDecimal(double value)
{
    const double rounded = std::round(value * 10) / 10;
    QString text = QString::asprintf("%.1f", rounded == 0 ? 0.0 : rounded);
    return text.replace(u'.', decimalSeparator());
}

} // namespace Numbers
