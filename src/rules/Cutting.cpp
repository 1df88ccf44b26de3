#include "rules/Cutting.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Scan.h"
#include "primitives/Sha256.h"
#include "rules/Checksums.h"

namespace Cutting {

QString extensionOf(const QString &fileName)
{
    const qsizetype dot = ExtensionDot(fileName);
    return dot < 0 ? QString() : fileName.mid(dot);
}

QString nameField(const QString &fileName)
{
    return fileName.mid(NamePartStart(fileName)).left(extensionOf(fileName).size() + 5);
}

QStringList pieceNames(const QString &nameField, int count, const QDateTime &now,
                       const QString &extension)
{
    const QDate date = now.date();
    const QTime time = now.time();
    const QString stamp = QStringLiteral("_%1%2%3_%4%5%6")
                              .arg(date.year())
                              .arg(date.month())
                              .arg(date.day())
                              .arg(time.hour())
                              .arg(time.minute())
                              .arg(time.second());
    QStringList names;
    for (int b = 1; b <= count; ++b)
        names << nameField + u'_' + QString::number(b) + stamp + extension;
    return names;
}

QString keptPieces(const QStringList &kept)
{
    if (kept.isEmpty())
        return QStringLiteral("no piece was kept.");
    return QStringLiteral("kept %1 piece(s): %2.").arg(kept.size()).arg(kept.join(", "));
}

namespace {

constexpr qint64 ScanBlock = 1 << 20;

// Hands end the end of each line of file[from, to) in order (the byte after its break, or to
// for a last line without one) until it returns false; scanned is told of each block read.
// The blocks read grow from firstBlock bytes to ScanBlock: a line end looked for near a
// place is found in a small read.
template <typename End>
void forEachLineEnd(FileStream &file, qint64 from, qint64 to,
                    const std::function<void(qint64)> &scanned, End end,
                    qint64 firstBlock = ScanBlock)
{
    QByteArray block;
    bool lineOpen = false; // bytes after the last end handed
    for (qint64 at = from, step = firstBlock; at < to; step = qMin(2 * step, ScanBlock)) {
        if (scanned)
            scanned(at);
        // One byte more than the step: the LF of a CR LF pair split between two steps.
        const qint64 want = qMin(step + 1, to - at);
        if (block.size() < want)
            block.resize(want);
        file.setPosition(at);
        const qint64 got = file.read(block.data(), want);
        if (got <= 0) // a failure, or the file was shortened while it was cut
            throw Errors::readError();
        const qsizetype n = got > step ? step : got; // the bytes of this step
        Scan::Breaks breaks(block.constData(), got);
        qsizetype i = 0;
        for (qsizetype b; (b = breaks.next(i)) < n; i = breaks.after(b))
            if (!end(at + breaks.after(b)))
                return;
        lineOpen = i < n;
        at += qMax(i, n);
    }
    if (lineOpen)
        end(to);
}

// The end of the line that holds the byte at (the file's size when no break follows).
qint64 endOfLineAt(FileStream &file, qint64 at, qint64 size)
{
    qint64 found = size;
    forEachLineEnd(
        file, at, size, {},
        [&](qint64 end) {
            found = end;
            return false;
        },
        4096);
    return found;
}

// k / count of bytes, without overflow.
qint64 share(qint64 bytes, int k, int count)
{
    return bytes / count * k + bytes % count * k / count;
}

} // namespace

LinePlan planLines(FileStream &file, int count, bool header,
                   const std::function<void(qint64 at)> &scanned)
{
    const qint64 size = file.size();
    LinePlan plan;
    if (header && size > 0)
        plan.headerEnd = endOfLineAt(file, 0, size);
    const qint64 start = plan.headerEnd, body = size - start;
    // The usual case, lines shorter than a piece: the end of the line at each target, read
    // near it alone. It holds when each piece gets a line or more.
    bool quick = body > 0;
    for (int k = 1; k < count && quick; ++k) {
        const qint64 target = start + share(body, k, count);
        const qint64 end = target > start ? endOfLineAt(file, target - 1, size) : start;
        quick = end > (plan.ends.empty() ? start : plan.ends.back()) && end < size;
        plan.ends.push_back(end);
    }
    if (!quick) {
        // Every line end is needed: a line longer than a piece goes whole into one piece,
        // and each piece keeps as many lines back as the pieces after it need.
        plan.ends.clear();
        qint64 lines = 0;
        forEachLineEnd(file, start, size, scanned, [&](qint64) { return ++lines, true; });
        const int pieces = int(qBound(qint64(1), lines, qint64(count)));
        qint64 line = 0;
        if (pieces > 1)
            forEachLineEnd(file, start, size, scanned, [&](qint64 end) {
                ++line;
                const int k = int(plan.ends.size()) + 1; // the piece this line may end
                if (end >= start + share(body, k, pieces) || lines - line == pieces - k)
                    plan.ends.push_back(end);
                return int(plan.ends.size()) < pieces - 1;
            });
    }
    plan.ends.push_back(size);
    return plan;
}

} // namespace Cutting

std::pair<QString, qint64> CutJob::select(const QString &fileName)
{
    SourceExtension = Cutting::extensionOf(fileName);
    const qint64 size = FileSizeOf(fileName);
    return {Cutting::nameField(fileName), size < 0 ? 0 : size / 1024};
}

qint64 CutJob::pieceKib(qint64 kib, int count)
{
    if (count == 0)
        throw Errors::divisionByZero();
    return kib / count;
}

void CutJob::plan(const QString &nameField, int count, const QDateTime &now)
{
    if (count <= 0)
        return;
    if (count > MaxPieces)
        throw QuorvaneError(
            QStringLiteral("Cannot plan %1 pieces: the most is %2").arg(count).arg(MaxPieces));
    PieceNames = Cutting::pieceNames(nameField, count, now, SourceExtension);
}

bool CutJob::CutFileIntoPieces(const QString &sourceName, qint64 pieceSize, CopySink *sink)
{
    return CutFileIntoPieces(sourceName, pieceSize, sink, {});
}

bool CutJob::CutFileIntoPieces(const QString &sourceName, qint64 pieceSize, CopySink *sink,
                               CutOptions options)
{
    CompletePieces.clear();
    ChecksumFile.clear();
    const QStringList names = PieceNames; // the plan as it stands when the cut starts
    if (sourceName.isEmpty())
        throw QuorvaneError(QStringLiteral("No file was chosen: use Select File first"));
    if (pieceSize <= 0 && !options.keepLinesWhole)
        throw QuorvaneError(QStringLiteral("The size of a piece must be at least 1 Kb"));
    // Creating a piece that is the source itself would empty it before it is read.
    for (const QString &name : std::as_const(names))
        if (SameFile(name, sourceName))
            throw QuorvaneError(
                QStringLiteral("The piece \"%1\" would replace the file being cut").arg(name));
    FileStream source(sourceName, FileMode::OpenReadDenyWrite);
    const qint64 size = source.size();
    Run run(*this, size, sink);
    // Where each piece ends in the source, and the header that starts those after the first.
    std::vector<qint64> ends;
    qint64 header = 0;
    try {
        if (options.keepLinesWhole && !names.isEmpty()) {
            const Cutting::LinePlan plan =
                Cutting::planLines(source, int(names.size()), options.header,
                                   [&](qint64) { run.report(sourceName, 0); });
            ends = plan.ends;
            header = options.header ? plan.headerEnd : 0;
        } else if (!options.keepLinesWhole) {
            // The last planned piece runs on to the end; none is made past the end (the
            // first always is).
            for (qsizetype b = 0; b < names.size() && (b == 0 || b * pieceSize < size); ++b)
                ends.push_back(b == names.size() - 1 ? size : qMin(size, (b + 1) * pieceSize));
        }
    } catch (const CopyStopped &) {
        return false;
    }
    // The bytes written, and read again for the checksums.
    const qint64 written = size + header * qint64(qMax<size_t>(ends.size(), 1) - 1);
    run.setTotal(options.checksums ? 2 * written : written);
    Sha256 whole;
    QByteArray checksums; // a line a piece
    for (size_t b = 0; b < ends.size(); ++b) {
        const QString &name = names[qsizetype(b)];
        const qint64 begin = b == 0 ? 0 : ends[b - 1];
        try {
            // Each piece is made whole beside its name and put there once complete: a stop,
            // a failure or a signal leaves no unfinished piece and no old file half replaced.
            FileReplacement piece(name, {sourceName});
            if (b > 0 && header > 0) {
                source.setPosition(0);
                run.copy(piece, source, header, name);
            }
            source.setPosition(begin);
            if (ends[b] > begin) // a count of 0 would copy the whole source
                run.copy(piece, source, ends[b] - begin, name);
            if (options.checksums) {
                // The bytes of the piece read back from the source: the header, then its own
                // bytes, which the source's hash takes in order too.
                Sha256 own;
                const auto read = [&](qint64 bytes) { run.advance(name, bytes); };
                if (b > 0 && header > 0)
                    Checksums::hashRange(source, 0, header, {&own}, read);
                Checksums::hashRange(source, begin, ends[b], {&own, &whole}, read);
                checksums += Checksums::line(own.hex(), name);
            }
            run.commit(piece, name);
        } catch (const CopyStopped &) {
            return false;
        } catch (const QuorvaneError &e) {
            throw QuorvaneError(QStringLiteral("%1 The piece \"%2\" was not written; %3")
                                    .arg(Errors::withFullStop(e.message()), name,
                                         Cutting::keptPieces(CompletePieces)));
        }
        CompletePieces << name;
    }
    if (options.checksums && !CompletePieces.isEmpty()) {
        const QString listing = Checksums::fileNameFor(sourceName, CompletePieces.first());
        try {
            FileReplacement file(listing, {sourceName});
            checksums += Checksums::line(whole.hex(), sourceName);
            file.write(checksums.constData(), checksums.size());
            run.commit(file, listing);
        } catch (const QuorvaneError &e) {
            throw QuorvaneError(QStringLiteral("%1 The checksum file \"%2\" was not written; %3")
                                    .arg(Errors::withFullStop(e.message()), listing,
                                         Cutting::keptPieces(CompletePieces)));
        }
        ChecksumFile = listing;
    }
    return true;
}
