#include "rules/Extraction.h"

#include "primitives/Clock.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"

#include <cstring>
#include <memory>

namespace {

// The input/output failure of the count pass for a DOS-style error code.
QuorvaneError ioFailure(int code)
{
    switch (code) {
    case 2:
        return QuorvaneError(QStringLiteral("Fichier introuvable"));
    case 3:
        return QuorvaneError(QStringLiteral("Nom de fichier non valide"));
    case 4:
        return QuorvaneError(QStringLiteral("Trop de fichiers ouverts"));
    case 5:
        return QuorvaneError(QStringLiteral("Accès au fichier refusé"));
    default:
        return QuorvaneError(QStringLiteral("Erreur E/S %1").arg(code));
    }
}

} // namespace

qint64 CountLines(const QString &fileName, double *elapsedDays)
{
    // Only what the system refuses is refused: a long name is its to judge.
    if (fileName.isEmpty())
        throw ioFailure(3);
    int errorCode = 0;
    FileStream file(fileName, FileMode::OpenReadDenyWrite, errorCode);
    if (!file.isOpen())
        throw ioFailure(Errors::dosErrorCode(errorCode));
    return CountLines(file, elapsedDays);
}

qint64 CountLines(FileStream &file, double *elapsedDays)
{
    const double t1 = Clock::timeOfDay(); // the open is not timed, nor the close
    constexpr qsizetype BufferSize = 128514;
    std::unique_ptr<char[]> buffer(new char[BufferSize]);
    auto count = [&] {
        qint64 lines = 0;
        bool atLineStart = true;
        for (;;) {
            const qint64 n = file.read(buffer.get(), BufferSize);
            if (n < 0)
                throw ioFailure(Errors::dosErrorCode(file.lastError()));
            if (n == 0)
                break;
            const char *p = buffer.get();
            const char *end = p + n;
            while (p < end) {
                if (atLineStart && *p == '\x1A')
                    return lines; // Ctrl-Z at the start of a line ends the input
                atLineStart = false;
                const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
                const char *stop = lf ? lf : end;
                const char *sub =
                    static_cast<const char *>(std::memchr(p, '\x1A', size_t(stop - p)));
                if (sub)
                    stop = sub;
                else if (!lf)
                    break; // the line goes on in the next buffer
                ++lines;
                atLineStart = true;
                p = stop + 1;
            }
        }
        return atLineStart ? lines : lines + 1;
    };
    const qint64 lines = count();
    if (elapsedDays)
        *elapsedDays = Clock::timeOfDay() - t1;
    return lines;
}
