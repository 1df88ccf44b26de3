// The integer field conversion against std::from_chars: blanks before, an optional sign,
// decimal digits or hexadecimal ones after "$", "x", "X", "0x" or "0X", nothing after, and a
// value that fits in 32 bits.
#include "primitives/Errors.h"
#include "primitives/Numbers.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::optional<int> reference(const std::string &text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        i += 1;
    }
    const std::string digits = text.substr(i);
    if (digits.empty() || digits.find_first_of("+- ") != std::string::npos)
        return std::nullopt;
    long long value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return int(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 64)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return 0; // what a user types in the field: printable ASCII
    std::optional<int> ours;
    try {
        ours = Numbers::StrToInt(QString::fromLatin1(text.data(), qsizetype(text.size())));
    } catch (const QuorvaneError &) {
    }
    if (ours != reference(text))
        std::abort();
    return 0;
}
