#include "rules/Extraction.h"

#include "primitives/Clock.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/LineReader.h"
#include "primitives/Numbers.h"

#include <QStringList>
#include <bit>
#include <cstring>
#include <limits>
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
    const qint64 sizeAtStart = file.size(); // 0 for a pipe
    auto count = [&] {
        qint64 lines = 0;
        bool atLineStart = true;
        for (;;) {
            const qint64 n = file.read(buffer.get(), BufferSize);
            if (n < 0)
                throw ioFailure(Errors::dosErrorCode(file.lastError()));
            if (n == 0) {
                // Fewer bytes than the file held at the start: another program shortened it.
                if (file.position() >= 0 && file.position() < sizeAtStart)
                    throw Errors::readError();
                break;
            }
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

ExtractionJob::ExtractionJob() = default;
ExtractionJob::~ExtractionJob() = default;

QString ExtractionJob::sizeReport(const QString &fileName)
{
    return QStringLiteral("File Size : %1 Bytes ").arg(FileSizeOf(fileName));
}

std::pair<qint64, QString> ExtractionJob::countPass(const QString &fileName)
{
    double elapsed = 0;
    const qint64 count = CountLines(fileName, &elapsed);
    return {count, QStringLiteral("Lines read = %1\r elapsed time = %2")
                       .arg(count)
                       .arg(Numbers::formatGeneral(elapsed))};
}

void ExtractionJob::scan(const QString &fileName, ExtractionSink &sink)
{
    run(
        fileName, [&] { return std::make_unique<LineReader>(fileName); }, sink);
}

void ExtractionJob::scanStandardInput(ExtractionSink &sink)
{
    run(
        QStringLiteral("-"),
        [] { return std::make_unique<LineReader>(FileStream::StandardInput()); }, sink);
}

void ExtractionJob::run(const QString &fileName,
                        const std::function<std::unique_ptr<LineReader>()> &open,
                        ExtractionSink &sink)
{
    ExtractionTicks = Clock::tickCount64();
    ExtractionLineCount = 0;
    ExtractionFileName = fileName;
    ExtractionLineReader = open(); // a file that cannot be opened ends the scan here

    // Close, elapsed time and summary on every way out, before a failure goes on.
    auto finish = [&] {
        ExtractionLineReader.reset();
        ExtractionTicks = Clock::tickCount64() - ExtractionTicks;
        sink.log(QStringLiteral("%1 Records loaded in %2 seconds.")
                     .arg(ExtractionLineCount)
                     .arg(Numbers::formatGeneral(ExtractionTicks / 1000.0)));
    };
    // Every 1000 lines: the sink's progress point and the progress line.
    auto reportProgress = [&] {
        const std::optional<QString> total =
            sink.progressPoint(ExtractionLineCount, ExtractionLineReader->bytesTaken());
        if (!total)
            return;
        // A total of 0 (a Ctrl-Z first) gives no percentage: the scan goes on.
        const qint64 t = Numbers::StrToInt64(*total);
        if (t == 0)
            sink.log(QStringLiteral("Lines Done : %1 / %2").arg(ExtractionLineCount).arg(*total));
        else
            sink.log(QStringLiteral("Lines Done : %1 / %2 Percentage  :%3%")
                         .arg(ExtractionLineCount)
                         .arg(*total, Numbers::formatOneDecimal(double(ExtractionLineCount) /
                                                                double(t) * 100)));
    };
    const qsizetype partChars = sink.partChars();
    try {
        while (!ExtractionLineReader->EndOfStream() && ExtractionRunning) {
            bool lineEnded = false;
            const QStringView line = ExtractionLineReader->ReadLinePart(partChars, lineEnded);
            if (!lineEnded) {
                // A long line for a sink that takes parts: its pieces, a part at a time.
                Extraction::PieceStream pieces;
                auto take = [&](QStringView piece) { sink.piece(piece); };
                pieces.feed(line, take);
                while (!lineEnded)
                    pieces.feed(ExtractionLineReader->ReadLinePart(partChars, lineEnded), take);
                pieces.end(take);
            } else {
                sink.line(line);
                const Extraction::LineMarks marks = Extraction::markLine(line);
                if (marks.firstAt >= 0) {
                    const QStringView field = line.first(marks.length); // as an edit field
                    sink.addressLine(field);
                    Extraction::forEachAddressPiece(field, marks.firstAt, marks.hasQuote,
                                                    [&](QStringView piece) { sink.piece(piece); });
                }
            }
            if (++ExtractionLineCount % 1000 == 0)
                reportProgress();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

namespace Extraction {

void forEachPieceOfLine(QStringView line, const std::function<void(QStringView)> &take)
{
    const LineMarks marks = markLine(line);
    if (marks.firstAt >= 0)
        forEachAddressPiece(line.first(marks.length), marks.firstAt, marks.hasQuote, take);
}

} // namespace Extraction

void SplitDelimited(QChar delimiter, const QString &text, QStringList *list)
{
    if (!list)
        throw QuorvaneError(QStringLiteral("Echec de l'assertion (FExtraction_Unit, ligne 74)"));
    list->clear();
    Q_UNUSED(delimiter); // a separator like every character from 1 to 32
    Extraction::forEachPiece(Extraction::upToNul(text),
                             [&](QStringView piece) { list->append(piece.toString()); });
}
