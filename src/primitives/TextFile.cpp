#include "primitives/TextFile.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

#include <QStringDecoder>
#include <QStringEncoder>

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

QString loadTextFile(const QString &fileName, TextEncoding &recorded)
{
    FileStream stream(fileName, FileMode::OpenReadDenyWrite);
    const qint64 size = stream.size() - stream.position();
    if (size >= (qint64(1) << 31))
        throw Errors::memoCapacityError();
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 done = 0; done < size;) {
        const qint64 n = stream.read(bytes.data() + done, size - done); // 0 or -1: short
        if (n <= 0)
            throw Errors::readError();
        done += n;
    }
    stream.close();

    TextEncoding encoding = TextEncoding::SystemCodePage;
    const qsizetype bom = detectBom(bytes, encoding);
    recorded = encoding;
    const QByteArrayView body = QByteArrayView(bytes).sliced(bom);
    switch (encoding) {
    case TextEncoding::Utf8: {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                         QStringDecoder::Flag::ConvertInitialBom);
        QString text = decoder.decode(body);
        if (decoder.hasError())
            throw Errors::encodingError();
        return text;
    }
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        if (body.size() == 1)
            throw Errors::encodingError();
        QString text(body.size() / 2, Qt::Uninitialized);
        decodeUtf16(body.data(), text.size(), encoding == TextEncoding::Utf16LE,
                    reinterpret_cast<char16_t *>(text.data()));
        return text;
    }
    default:
        return decodeSystemCodePage(body);
    }
}

void saveTextFile(const QString &fileName, QStringView text, TextEncoding encoding)
{
    saveTextFile(fileName, encoding, [&](const TextWriter &write) { write(text); });
}

void saveTextFile(const QString &fileName, TextEncoding encoding,
                  const std::function<void(const TextWriter &)> &produce)
{
    FileReplacement file(fileName);
    constexpr qsizetype FlushSize = 1 << 20;
    QByteArray buffer;
    buffer.reserve(FlushSize + 4096);
    auto flush = [&] {
        file.write(buffer.constData(), buffer.size());
        buffer.resize(0); // keeps the capacity
    };
    QStringEncoder utf8(QStringEncoder::Utf8);
    const bool little = encoding == TextEncoding::Utf16LE;
    switch (encoding) {
    case TextEncoding::Utf8:
        buffer.append("\xEF\xBB\xBF");
        break;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        buffer.append(little ? "\xFF\xFE" : "\xFE\xFF");
        break;
    default:
        buffer.append(systemCodePageBom());
        break;
    }
    const TextWriter write = [&](QStringView piece) {
        const qsizetype old = buffer.size();
        switch (encoding) {
        case TextEncoding::Utf8: {
            buffer.resize(old + utf8.requiredSpace(piece.size()));
            char *end = utf8.appendToBuffer(buffer.data() + old, piece);
            buffer.resize(end - buffer.constData());
            break;
        }
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: {
            buffer.resize(old + 2 * piece.size());
            char *out = buffer.data() + old;
            for (const QChar c : piece) {
                const char16_t u = c.unicode();
                *out++ = char(little ? u & 0xFF : u >> 8);
                *out++ = char(little ? u >> 8 : u & 0xFF);
            }
            break;
        }
        default:
            appendSystemCodePage(buffer, piece);
        }
        if (buffer.size() >= FlushSize)
            flush();
    };
    produce(write);
    flush();
    file.commit();
}
