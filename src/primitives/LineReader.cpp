#include "primitives/LineReader.h"

#include "primitives/Errors.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr qsizetype StreamBufferSize = 256 * 1024;

} // namespace

LineReader::LineReader(const QString &fileName)
    : m_stream(fileName, FileMode::OpenReadDenyWrite),
      m_utf8(QStringDecoder::Utf8,
             QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom)
{
    m_sizeAtOpen = m_stream.size();
    allocateBuffer();
}

LineReader::LineReader(FileStream::StandardInput input)
    : m_stream(input), m_utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                        QStringDecoder::Flag::ConvertInitialBom)
{
    m_buffer.resize(StreamBufferSize);
}

void LineReader::allocateBuffer()
{
    // A small file needs no more buffer than it holds.
    m_buffer.resize(qBound<qint64>(BlockSize, m_sizeAtOpen + BlockSize, StreamBufferSize));
}

LineReader::~LineReader()
{
    close();
}

void LineReader::close()
{
    m_stream.close();
}

qsizetype LineReader::takeBlock(const char *&block)
{
    if (m_bufferEnd - m_bufferPos < BlockSize && !m_fileEnded) {
        const qsizetype kept = m_bufferEnd - m_bufferPos;
        m_bufferOffset += m_bufferPos;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_bufferPos, size_t(kept));
        m_bufferPos = 0;
        m_bufferEnd = kept;
        while (m_bufferEnd < m_buffer.size()) {
            const qint64 n =
                m_stream.read(m_buffer.data() + m_bufferEnd, m_buffer.size() - m_bufferEnd);
            if (n < 0)
                throw Errors::readError();
            if (n == 0) {
                // Fewer bytes than the file held at the open: another program shortened it.
                if (m_sizeAtOpen > 0 && m_stream.position() < m_sizeAtOpen)
                    throw Errors::readError();
                m_fileEnded = true;
                break;
            }
            m_bufferEnd += n;
        }
    }
    block = m_buffer.constData() + m_bufferPos;
    const qsizetype n = qMin(BlockSize, m_bufferEnd - m_bufferPos);
    m_bufferPos += n;
    return n;
}

void LineReader::fill()
{
    const char *block = nullptr;
    qsizetype size = takeBlock(block);
    const bool gotBytes = size > 0;
    if (!gotBytes)
        m_endOfData = true;
    if (m_bomPending) {
        m_bomPending = false;
        const qsizetype bom = detectBom(QByteArrayView(block, size), m_encoding);
        block += bom;
        size -= bom;
    }
    if (gotBytes && m_encoding == TextEncoding::Utf8) {
        const qsizetype tail = utf8Tail(block, size);
        size -= tail;
        m_bufferPos -= tail;
    }
    decodeBlock(block, size, m_bufferOffset + (block - m_buffer.constData()));
}

void LineReader::decodeBlock(const char *data, qsizetype size, qint64 offset)
{
    if (size == 0)
        return;
    // Drop what was returned already before the queue grows (the line last returned with
    // it: its start is no longer known).
    m_lineStart = -1;
    if (m_head == m_queue.size()) {
        m_queue.resize(0);
        m_head = 0;
        m_blocks.clear();
    } else if (m_head > 65536 && m_head * 2 > m_queue.size()) {
        // The blocks from the head on: the head's own offset, then those after it.
        std::vector<std::pair<qsizetype, qint64>> kept{{0, offsetOf(m_head)}};
        for (const auto &[index, at] : m_blocks)
            if (index > m_head)
                kept.emplace_back(index - m_head, at);
        m_blocks = std::move(kept);
        m_queue.remove(0, m_head);
        m_head = 0;
    }
    m_breaksStale = true; // the queue changes
    const qsizetype old = m_queue.size();
    m_blocks.emplace_back(old, offset);
    if (old + size > (1 << 20) && m_queue.capacity() < old + size) {
        // A huge line that outgrows the queue grows it at most to what the rest of the
        // file can decode to, so that it does not cost twice its size.
        const qsizetype grown = qMax(2 * m_queue.capacity(), old + size + BlockSize);
        if (m_sizeAtOpen > 0) {
            const qint64 rest = m_stream.size() - m_stream.position() + (m_bufferEnd - m_bufferPos);
            m_queue.reserve(qMin(grown, old + size + qMax<qint64>(rest, 0)));
        } else {
            m_queue.reserve(grown); // a stream of unknown length
        }
    }
    if (m_encoding == TextEncoding::Utf8) {
        m_queue.resize(old + size);
        QChar *end = m_utf8.appendToBuffer(m_queue.data() + old, QByteArrayView(data, size));
        if (m_utf8.hasError()) {
            m_queue.resize(old);
            throw Errors::encodingError();
        }
        m_queue.resize(end - m_queue.constData());
        return;
    }
    if (size == 1)
        throw Errors::encodingError();
    const qsizetype chars = size / 2;
    m_queue.resize(old + chars);
    decodeUtf16(data, chars, m_encoding == TextEncoding::Utf16LE,
                reinterpret_cast<char16_t *>(m_queue.data()) + old);
}

bool LineReader::EndOfStream()
{
    if (m_head == m_queue.size() && !m_endOfData)
        fill();
    return m_endOfData && m_head == m_queue.size();
}

QStringView LineReader::ReadLineView()
{
    bool lineEnded = false;
    return ReadLinePart(std::numeric_limits<qsizetype>::max(), lineEnded);
}

QStringView LineReader::ReadLinePart(qsizetype maxChars, bool &lineEnded)
{
    lineEnded = true;
    for (;;) {
        const auto *chars = reinterpret_cast<const char16_t *>(m_queue.constData()) + m_head;
        const qsizetype available = m_queue.size() - m_head;
        if (m_breaksStale) {
            m_breaks = Scan::Breaks(reinterpret_cast<const char16_t *>(m_queue.constData()),
                                    m_queue.size());
            m_breaksStale = false;
        }
        const qsizetype i = m_breaks.next(m_head + m_scanned) - m_head;
        // A break is taken only when the character after it is in the queue or the
        // data has ended; otherwise the queue is filled first.
        const bool breakFound = i < available && (i + 1 < available || m_endOfData);
        const bool ends = breakFound || (i == available && m_endOfData);
        if (i > maxChars || (i == maxChars && !ends)) {
            // A part of a long line: none of it is a break.
            qsizetype n = maxChars;
            if (n > 1 && QChar::isHighSurrogate(chars[n - 1]))
                --n;
            m_head += n;
            m_scanned = i - n;
            lineEnded = false;
            m_inParts = true;
            return QStringView(chars, n);
        }
        if (ends) {
            qsizetype taken = i;
            if (breakFound)
                taken += (chars[i] == u'\r' && i + 1 < available && chars[i + 1] == u'\n') ? 2 : 1;
            m_lineStart = m_inParts ? -1 : m_head;
            m_inParts = false;
            ++m_linesRead;
            m_head += taken;
            m_scanned = 0;
            return QStringView(chars, i); // valid until the next fill
        }
        m_scanned = i;
        fill();
    }
}

qint64 LineReader::offsetOf(qsizetype index) const
{
    // The last block that starts at or before index.
    auto block = std::upper_bound(m_blocks.begin(), m_blocks.end(), index,
                                  [](qsizetype i, const auto &b) { return i < b.first; });
    Q_ASSERT(block != m_blocks.begin());
    --block;
    const qsizetype from = block->first;
    if (m_encoding != TextEncoding::Utf8)
        return block->second + 2 * qint64(index - from);
    return block->second +
           utf8Length(reinterpret_cast<const char16_t *>(m_queue.constData()) + from, index - from);
}

qint64 LineReader::lineStartOffset() const
{
    return m_lineStart < 0 ? -1 : offsetOf(m_lineStart);
}

QString LineReader::ReadLine()
{
    return ReadLineView().toString();
}
