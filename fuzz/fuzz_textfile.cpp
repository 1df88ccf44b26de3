// The whole-file load and save round trip: whatever loads, saved and loaded again, gives
// the same text in the same encoding, and saving that again gives the same bytes.
#include "FuzzFile.h"
#include "model/MemoText.h"
#include "primitives/Errors.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = writeFuzzFile("load", data, size);
    const QString saved = fuzzFileName("saved"), again = fuzzFileName("again");
    MemoText first;
    try {
        first.loadFromFile(input);
    } catch (const QuorvaneError &) {
        return 0; // not decodable in the encoding its mark names
    }
    first.saveToFile(saved);
    MemoText second;
    second.loadFromFile(saved); // a failure here escapes: the fuzzer reports it
    if (second.text() != first.text() || second.encoding() != first.encoding())
        std::abort();
    second.saveToFile(again);
    QFile a(saved), b(again);
    a.open(QIODevice::ReadOnly);
    b.open(QIODevice::ReadOnly);
    if (a.readAll() != b.readAll())
        std::abort();
    return 0;
}
