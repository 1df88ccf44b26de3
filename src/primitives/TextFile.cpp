#include "primitives/TextFile.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

#include <QStringDecoder>
#include <QStringEncoder>

int wellFormedLength(const uchar *p, const uchar *end)
{
    const uchar b = p[0];
    const qsizetype avail = end - p;
    auto cont = [&](int i, uchar lo = 0x80, uchar hi = 0xBF) {
        return i < avail && p[i] >= lo && p[i] <= hi;
    };
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const uchar lo = b == 0xE0 ? 0xA0 : 0x80;
        const uchar hi = b == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const uchar lo = b == 0xF0 ? 0x90 : 0x80;
        const uchar hi = b == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

qsizetype utf8Tail(const char *data, qsizetype size)
{
    const auto *begin = reinterpret_cast<const uchar *>(data);
    const uchar *end = begin + size;
    for (const uchar *p = end; p != begin;) {
        --p;
        if (const int len = wellFormedLength(p, end))
            return end - (p + len);
    }
    return 0;
}

qsizetype detectBom(QByteArrayView bytes, TextEncoding &encoding)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding = TextEncoding::Utf8;
        return 3;
    }
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = TextEncoding::Utf16LE;
        return 2;
    }
    if (bytes.startsWith("\xFE\xFF")) {
        encoding = TextEncoding::Utf16BE;
        return 2;
    }
    return 0;
}

void decodeUtf16(const char *bytes, qsizetype units, bool littleEndian, char16_t *out)
{
    const auto *in = reinterpret_cast<const uchar *>(bytes);
    if (littleEndian) {
        for (qsizetype i = 0; i < units; ++i)
            out[i] = char16_t(in[2 * i] | (in[2 * i + 1] << 8));
    } else {
        for (qsizetype i = 0; i < units; ++i)
            out[i] = char16_t((in[2 * i] << 8) | in[2 * i + 1]);
    }
}

void loadTextFile(const QString &fileName, TextEncoding &recorded,
                  const std::function<void(QStringView)> &take)
{
    loadTextFile(fileName, recorded, take, {});
}

void loadTextFile(const QString &fileName, TextEncoding &recorded,
                  const std::function<void(QStringView)> &take,
                  const std::function<void(QLatin1StringView)> &takeLatin1)
{
    loadTextFile(fileName, recorded, take, takeLatin1, {});
}

void loadTextFile(const QString &fileName, TextEncoding &recorded,
                  const std::function<void(QStringView)> &take,
                  const std::function<void(QLatin1StringView)> &takeLatin1,
                  const std::function<void(qint64, qint64)> &pieceAt)
{
    FileStream stream(fileName, FileMode::OpenReadDenyWrite);
    const qint64 size = stream.size() - stream.position();
    constexpr qint64 BlockSize = 1 << 20;
    QByteArray bytes(qMin(size, BlockSize) + 4, Qt::Uninitialized);
    QString text;
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    TextEncoding encoding = TextEncoding::SystemCodePage;
    qsizetype carried = 0; // bytes of a character split by the block's end, kept at the front
    qint64 done = 0;
    while (done < size || (done == 0 && size == 0)) {
        const qint64 want = qMin(size - done, BlockSize);
        for (qint64 got = 0; got < want;) {
            const qint64 n = stream.read(bytes.data() + carried + got, want - got); // 0 or -1
            if (n <= 0)
                throw Errors::readError();
            got += n;
        }
        const bool first = done == 0;
        const qint64 bytesAt = done - carried; // where the buffer's first byte lies
        done += want;
        const bool last = done == size;
        const char *data = bytes.constData();
        qsizetype length = carried + want;
        if (first) {
            const qsizetype bom = detectBom(QByteArrayView(data, length), encoding);
            recorded = encoding;
            data += bom;
            length -= bom;
            if (last && length == 1 &&
                (encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE))
                throw Errors::encodingError(); // one single byte cannot be UTF-16
        }
        const qint64 dataAt = bytesAt + (data - bytes.constData());
        qsizetype keep = 0;  // bytes held back for the next block
        bool handed = false; // as bytes, to takeLatin1
        switch (encoding) {
        case TextEncoding::Utf8:
            keep = last ? 0 : utf8Tail(data, length);
            if (keep > 3)
                keep = 0; // no character is that long: the block cannot be decoded
            text = utf8.decode(QByteArrayView(data, length - keep));
            if (utf8.hasError())
                throw Errors::encodingError();
            break;
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE:
            keep = length % 2; // at the end of the file: a lone last byte, ignored
            text.resize(length / 2);
            decodeUtf16(data, text.size(), encoding == TextEncoding::Utf16LE,
                        reinterpret_cast<char16_t *>(text.data()));
            break;
        default:
            if (takeLatin1 && decodesAsLatin1(QByteArrayView(data, length))) {
                if (pieceAt)
                    pieceAt(dataAt, length);
                takeLatin1(QLatin1StringView(data, length));
                handed = true;
            } else {
                text = decodeSystemCodePage(QByteArrayView(data, length));
            }
        }
        if (!handed) {
            if (pieceAt)
                pieceAt(dataAt, length - keep);
            take(text);
        }
        if (last)
            break;
        std::memmove(bytes.data(), data + length - keep, size_t(keep));
        carried = keep;
    }
    stream.close();
}

void saveTextFile(const QString &fileName, QStringView text, TextEncoding encoding)
{
    saveTextFile(fileName, encoding, [&](const TextWriter &write) { write(text); });
}

namespace {

// Encodes pieces of text into a buffer that is written out whenever it holds a megabyte.
class EncodingWriter : public TextWriter
{
  public:
    EncodingWriter(const ByteSink &sink, TextEncoding encoding)
        : m_sink(sink), m_encoding(encoding), m_little(encoding == TextEncoding::Utf16LE)
    {
        switch (encoding) {
        case TextEncoding::Utf8:
            m_buffer.append("\xEF\xBB\xBF");
            break;
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE:
            m_buffer.append(m_little ? "\xFF\xFE" : "\xFE\xFF");
            break;
        default:
            m_buffer.append(systemCodePageBom());
            break;
        }
    }

    void operator()(QStringView piece) const override
    {
        if (piece.isEmpty())
            return;
        if (!m_heldHigh.isNull()) { // the pair of a surrogate that ended the last piece
            const char16_t pair[2] = {m_heldHigh.unicode(), piece.front().unicode()};
            m_heldHigh = QChar();
            const bool paired = QChar::isLowSurrogate(pair[1]);
            encode(QStringView(pair, paired ? 2 : 1));
            if (paired)
                piece = piece.sliced(1);
        }
        if (!piece.isEmpty() && piece.back().isHighSurrogate()) {
            m_heldHigh = piece.back();
            piece.chop(1);
        }
        encode(piece);
    }

    void operator()(QLatin1StringView piece) const override
    {
        if (!m_heldHigh.isNull()) {
            encode(QStringView(&m_heldHigh, 1)); // a lone surrogate
            m_heldHigh = QChar();
        }
        const qsizetype old = m_buffer.size();
        const auto *in = reinterpret_cast<const uchar *>(piece.data());
        const qsizetype n = piece.size();
        switch (m_encoding) {
        case TextEncoding::Utf8: {
            m_buffer.resize(old + 2 * n);
            char *out = m_buffer.data() + old;
            for (qsizetype i = 0; i < n; ++i) {
                const uchar b = in[i];
                if (b < 0x80) {
                    *out++ = char(b);
                } else {
                    *out++ = char(0xC0 | (b >> 6));
                    *out++ = char(0x80 | (b & 0x3F));
                }
            }
            m_buffer.resize(out - m_buffer.constData());
            break;
        }
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: {
            m_buffer.resize(old + 2 * n);
            char *out = m_buffer.data() + old;
            for (qsizetype i = 0; i < n; ++i) {
                *out++ = char(m_little ? in[i] : 0);
                *out++ = char(m_little ? 0 : in[i]);
            }
            break;
        }
        default:
            appendSystemCodePage(m_buffer, piece);
        }
        flushWhenFull();
    }

    void systemCodePageBytes(QByteArrayView bytes) const override
    {
        if (m_encoding != TextEncoding::None && m_encoding != TextEncoding::SystemCodePage) {
            (*this)(decodeSystemCodePage(bytes));
            return;
        }
        if (!m_heldHigh.isNull()) {
            encode(QStringView(&m_heldHigh, 1)); // a lone surrogate
            m_heldHigh = QChar();
        }
        m_buffer.append(bytes);
        flushWhenFull();
    }

    // Writes what is left; a surrogate still held back is written alone.
    void finish()
    {
        if (!m_heldHigh.isNull())
            encode(QStringView(&m_heldHigh, 1));
        m_heldHigh = QChar();
        flush();
    }

  private:
    static constexpr qsizetype FlushSize = 1 << 20;

    void encode(QStringView piece) const
    {
        const qsizetype old = m_buffer.size();
        switch (m_encoding) {
        case TextEncoding::Utf8: {
            // Stateless: a lone surrogate becomes the replacement character at once.
            QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
            m_buffer.resize(old + utf8.requiredSpace(piece.size()));
            char *end = utf8.appendToBuffer(m_buffer.data() + old, piece);
            m_buffer.resize(end - m_buffer.constData());
            break;
        }
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: {
            m_buffer.resize(old + 2 * piece.size());
            char *out = m_buffer.data() + old;
            for (const QChar c : piece) {
                const char16_t u = c.unicode();
                *out++ = char(m_little ? u & 0xFF : u >> 8);
                *out++ = char(m_little ? u >> 8 : u & 0xFF);
            }
            break;
        }
        default:
            appendSystemCodePage(m_buffer, piece);
        }
        flushWhenFull();
    }

    void flushWhenFull() const
    {
        if (m_buffer.size() >= FlushSize)
            flush();
    }

    void flush() const
    {
        m_sink(m_buffer.constData(), m_buffer.size());
        m_buffer.resize(0); // keeps the capacity
    }

    const ByteSink &m_sink;
    const TextEncoding m_encoding;
    const bool m_little;
    mutable QByteArray m_buffer;
    mutable QChar m_heldHigh; // a high surrogate that ended a piece, waiting for its pair
};

} // namespace

void writeText(const ByteSink &sink, TextEncoding encoding,
               const std::function<void(const TextWriter &)> &produce)
{
    EncodingWriter writer(sink, encoding);
    try {
        produce(writer);
    } catch (...) {
        // What was produced before the failure is whole (a failure comes between two
        // writes): it is handed on, then the failure goes on.
        try {
            writer.finish();
        } catch (...) {
        }
        throw;
    }
    writer.finish();
}

void saveTextFile(const QString &fileName, TextEncoding encoding,
                  const std::function<void(const TextWriter &)> &produce, const QStringList &inputs)
{
    FileReplacement file(fileName, inputs);
    writeText([&](const char *data, qint64 size) { file.write(data, size); }, encoding, produce);
    file.commit();
}
