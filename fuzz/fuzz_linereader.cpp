// The line reader against a small decoder of its own: the same lines, until the first
// error, which both must see.
//
// The reference decodes the whole file at once: the byte-order mark, then strict UTF-8 or
// UTF-16 byte pairs. It stops at the first ill-formed UTF-8 sequence, and for UTF-16 it
// knows the reader's one rule that depends on its 4096-byte blocks: a block of one single
// byte cannot be decoded. The reader decodes block by block, so before failing it returns
// the lines that end (with their break) before the block that holds the error.
#include "FuzzFile.h"
#include "primitives/Errors.h"
#include "primitives/LineReader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Reference
{
    QString text;       // what decodes
    bool error = false; // and whether decoding stopped at an error
};

// Length of the well-formed UTF-8 sequence at p, 0 when there is none.
int sequence(const uint8_t *p, size_t left)
{
    const uint8_t b = p[0];
    if (b < 0x80)
        return 1;
    int n = b >= 0xC2 && b <= 0xDF   ? 2
            : b >= 0xE0 && b <= 0xEF ? 3
            : b >= 0xF0 && b <= 0xF4 ? 4
                                     : 0;
    if (n == 0 || size_t(n) > left)
        return 0;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b == 0xE0)
        lo = 0xA0;
    else if (b == 0xED)
        hi = 0x9F;
    else if (b == 0xF0)
        lo = 0x90;
    else if (b == 0xF4)
        hi = 0x8F;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (int i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return n;
}

Reference decode(const uint8_t *data, size_t size)
{
    Reference r;
    if (size >= 2 && (data[0] == 0xFF || data[0] == 0xFE) && data[1] == (data[0] ^ 0x01)) {
        const bool little = data[0] == 0xFF;
        // Blocks of 4096 bytes from the file's start; the first loses the mark.
        if ((size <= 4096 && size - 2 == 1) || (size > 4096 && size % 4096 == 1)) {
            r.error = true;
            size -= 1; // the last block is that single byte
        }
        for (size_t i = 2; i + 1 < size; i += 2)
            r.text += QChar(little ? data[i] | data[i + 1] << 8 : data[i] << 8 | data[i + 1]);
        return r;
    }
    size_t i = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
    while (i < size) {
        const int n = sequence(data + i, size - i);
        if (n == 0) {
            r.error = true;
            break;
        }
        char32_t code = n == 1 ? data[i] : data[i] & (0x7F >> n);
        for (int k = 1; k < n; ++k)
            code = code << 6 | (data[i + k] & 0x3F);
        for (const char16_t unit : QChar::fromUcs4(code))
            r.text += QChar(unit);
        i += size_t(n);
    }
    return r;
}

// The lines of text: a line ends at LF, CR LF or a lone CR; a CR whose next character is
// unknown (the decoded text ends there after an error) ends nothing yet. The rest after
// the last break is a line only when the text ends the file.
std::vector<QString> linesOf(const Reference &r, bool onlyMark)
{
    if (onlyMark && !r.error)
        return {QString()}; // a first block that held the mark alone: one empty line
    std::vector<QString> lines;
    const QString &t = r.text;
    qsizetype start = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t[i] == u'\n') {
            lines.push_back(t.sliced(start, i - start));
            start = i + 1;
        } else if (t[i] == u'\r') {
            if (i + 1 == t.size() && r.error)
                break;
            lines.push_back(t.sliced(start, i - start));
            if (i + 1 < t.size() && t[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (!r.error && start < t.size())
        lines.push_back(t.sliced(start));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeFuzzFile("lines", data, size);
    const Reference reference = decode(data, size);
    const bool onlyMark =
        (size == 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) ||
        (size == 2 && (data[0] == 0xFF || data[0] == 0xFE) && data[1] == (data[0] ^ 0x01));
    const std::vector<QString> expected = linesOf(reference, onlyMark);
    std::vector<QString> lines;
    bool failed = false;
    try {
        LineReader reader(path);
        while (!reader.EndOfStream())
            lines.push_back(reader.ReadLine());
    } catch (const QuorvaneError &) {
        failed = true;
    }
    if (failed != reference.error)
        std::abort();
    if (!failed && lines != expected)
        std::abort();
    if (failed) {
        // Every line returned is one of the reference's complete lines, in order.
        if (lines.size() > expected.size())
            std::abort();
        for (size_t k = 0; k < lines.size(); ++k)
            if (lines[k] != expected[k])
                std::abort();
    }
    return 0;
}
