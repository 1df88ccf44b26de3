#include "rules/AddressList.h"

#include "primitives/TextFile.h"
#include "rules/ExternalSort.h"

#include <QStringList>
#include <QtEndian>
#include <cstring>

namespace {

// The code points of text, one at a time; a lone surrogate is itself.
template <typename F> bool allCodePoints(QStringView text, F &&accept)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            ++i;
        }
        if (!accept(c))
            return false;
    }
    return true;
}

qsizetype codePointCount(QStringView text)
{
    qsizetype n = 0;
    allCodePoints(text, [&](char32_t) { return ++n, true; });
    return n;
}

bool isAsciiLetter(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char32_t c)
{
    return c < 0x80 ? isAsciiLetter(c) : QChar::isLetter(c);
}

bool validLocalPart(QStringView local)
{
    static const QString atext = QStringLiteral("!#$%&'*+-/=?^_`{|}~");
    const qsizetype n = codePointCount(local);
    if (n < 1 || n > 64 || local.startsWith(u'.') || local.endsWith(u'.') || local.contains(u".."))
        return false;
    return allCodePoints(local, [](char32_t c) {
        return isLetter(c) || isAsciiDigit(c) || c == '.' || (c < 0x80 && atext.contains(QChar(c)));
    });
}

bool validDomain(QStringView domain)
{
    const auto labels = domain.split(u'.');
    if (labels.size() < 2)
        return false;
    for (const QStringView label : labels) {
        const qsizetype n = codePointCount(label);
        if (n < 1 || n > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        if (!allCodePoints(label,
                           [](char32_t c) { return isLetter(c) || isAsciiDigit(c) || c == '-'; }))
            return false;
    }
    const QStringView last = labels.last();
    return codePointCount(last) >= 2 && allCodePoints(last, isLetter);
}

} // namespace

QString AddressChoices::names() const
{
    QStringList applied;
    if (unique)
        applied << QStringLiteral("Unique");
    if (unique && ignoreCase)
        applied << QStringLiteral("Ignore case");
    if (sorted)
        applied << QStringLiteral("Sorted");
    if (validOnly)
        applied << QStringLiteral("Valid only");
    return applied.join(QStringLiteral(", "));
}

bool IsValidAddress(QStringView piece)
{
    const qsizetype at = piece.indexOf(u'@');
    if (at < 0 || piece.indexOf(u'@', at + 1) >= 0 || codePointCount(piece) > 254)
        return false;
    return validLocalPart(piece.first(at)) && validDomain(piece.sliced(at + 1));
}

QString foldedCase(QStringView text)
{
    QString folded;
    folded.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        c = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(c)) {
            folded += QChar(QChar::highSurrogate(c));
            folded += QChar(QChar::lowSurrogate(c));
        } else {
            folded += QChar(char16_t(c));
        }
    }
    return folded;
}

AddressListWriter::AddressListWriter(const AddressChoices &choices, const TextWriter &write,
                                     qsizetype runBytes)
    : m_choices(choices), m_write(write), m_runBytes(runBytes)
{
    if (m_choices.unique || m_choices.sorted)
        m_sorter = std::make_unique<ExternalSorter>(ExternalSorter::Order::BytesThenNumber,
                                                    m_choices.unique, runBytes);
}

AddressListWriter::~AddressListWriter()
{
    // The pieces before a failure are handed on whole; the failure itself goes on.
    try {
        flushPending();
    } catch (...) {
    }
}

void AddressListWriter::flushPending()
{
    if (m_pending.isEmpty())
        return;
    m_write.systemCodePageBytes(m_pending);
    m_pending.resize(0); // keeps the capacity
}

void AddressListWriter::add(QStringView piece)
{
    if (m_choices.validOnly && !IsValidAddress(piece))
        return;
    if (!m_sorter) {
        // Gathered encoded, as the save would encode them, and handed on in blocks.
        appendSystemCodePage(m_pending, piece);
        endLine();
        return;
    }
    m_encoded.clear();
    const quint64 position = quint64(m_added++);
    if (foldsCase()) {
        // Sorted by the folded piece, then where it came (the first met of equal ones
        // first), and carrying the piece as it is: folded, NUL (pieces hold none), the
        // position big-endian, then the piece unless it is its own folded case (most are).
        if (QtPrivate::isAscii(piece)) { // most addresses: folded a byte at a time
            m_encoded.resize(piece.size());
            char *out = m_encoded.data();
            for (const QChar c : piece)
                *out++ = char(c >= u'A' && c <= u'Z' ? c.unicode() + 32 : c.unicode());
        } else {
            appendSystemCodePage(m_encoded, foldedCase(piece));
        }
        const qsizetype folded = m_encoded.size();
        const quint64 bigEndian = qToBigEndian(position);
        m_encoded.append('\0').append(reinterpret_cast<const char *>(&bigEndian), 8);
        const qsizetype at = m_encoded.size();
        appendSystemCodePage(m_encoded, piece);
        if (QByteArrayView(m_encoded).sliced(at) == QByteArrayView(m_encoded).first(folded))
            m_encoded.truncate(at);
    } else {
        appendSystemCodePage(m_encoded, piece);
    }
    m_sorter->add(m_encoded, position);
}

void AddressListWriter::writeEncoded(QByteArrayView bytes)
{
    m_pending.append(bytes.data(), bytes.size());
    endLine();
}

void AddressListWriter::endLine()
{
    m_pending.append("\r\n", 2);
    ++m_written;
    if (m_pending.size() >= (64 << 10))
        flushPending();
}

qint64 AddressListWriter::finish()
{
    flushPending();
    if (!m_sorter)
        return m_written;
    QByteArray previous;
    bool first = true;
    // A record's key (what pieces count once by) and the piece as written.
    const bool folds = foldsCase();
    auto keyOf = [&](QByteArrayView bytes) {
        return folds ? bytes.first(bytes.indexOf('\0')) : bytes;
    };
    auto pieceOf = [&](QByteArrayView bytes) {
        if (!folds)
            return bytes;
        const QByteArrayView key = keyOf(bytes), piece = bytes.sliced(key.size() + 9);
        return piece.isEmpty() ? key : piece; // a piece in its folded case carries no copy
    };
    // True for the first of pieces of equal keys (they come together, the first added
    // first).
    auto isNew = [&](QByteArrayView bytes) {
        const QByteArrayView key = keyOf(bytes);
        if (!first && QByteArrayView(previous) == key)
            return false;
        first = false;
        previous.resize(key.size());
        std::memcpy(previous.data(), key.data(), size_t(key.size()));
        return true;
    };
    if (!m_choices.unique) {
        m_sorter->finish([&](QByteArrayView bytes, quint64) { writeEncoded(bytes); });
    } else if (m_choices.sorted) {
        m_sorter->finish([&](QByteArrayView bytes, quint64) {
            if (isNew(bytes))
                writeEncoded(pieceOf(bytes));
        });
    } else {
        // Each piece once, where it first came: the first of each run of equal pieces,
        // sorted back into the order they were added.
        ExternalSorter byPosition(ExternalSorter::Order::Number, false, m_runBytes);
        m_sorter->finish([&](QByteArrayView bytes, quint64 position) {
            if (isNew(bytes))
                byPosition.add(pieceOf(bytes), position);
        });
        m_sorter.reset();
        byPosition.finish([&](QByteArrayView bytes, quint64) { writeEncoded(bytes); });
    }
    m_sorter.reset();
    return m_written;
}
