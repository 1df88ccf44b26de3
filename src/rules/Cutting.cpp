#include "rules/Cutting.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

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
    CompletePieces.clear();
    const QStringList names = PieceNames; // the plan as it stands when the cut starts
    if (sourceName.isEmpty())
        throw QuorvaneError(QStringLiteral("No file was chosen: use Select File first"));
    if (pieceSize <= 0)
        throw QuorvaneError(QStringLiteral("The size of a piece must be at least 1 Kb"));
    // Creating a piece that is the source itself would empty it before it is read.
    for (const QString &name : std::as_const(names))
        if (SameFile(name, sourceName))
            throw QuorvaneError(
                QStringLiteral("The piece \"%1\" would replace the file being cut").arg(name));
    FileStream source(sourceName, FileMode::OpenReadDenyWrite);
    const qint64 size = source.size();
    Run run(*this, size, sink);
    for (qsizetype b = 0; b < names.size(); ++b) {
        const qint64 remaining = size - source.position();
        if (b > 0 && remaining <= 0)
            break; // no empty pieces past the end of the source
        const bool last = b == names.size() - 1;
        const qint64 n = last ? remaining : qMin(pieceSize, remaining);
        try {
            // Each piece is made whole beside its name and put there once complete: a stop,
            // a failure or a signal leaves no unfinished piece and no old file half replaced.
            FileReplacement piece(names[b], {sourceName});
            if (n > 0) // a count of 0 would copy the whole source
                run.copy(piece, source, n, names[b]);
            run.commit(piece, names[b]);
        } catch (const CopyStopped &) {
            return false;
        } catch (const QuorvaneError &e) {
            throw QuorvaneError(QStringLiteral("%1 The piece \"%2\" was not written; %3")
                                    .arg(Errors::withFullStop(e.message()), names[b],
                                         Cutting::keptPieces(CompletePieces)));
        }
        CompletePieces << names[b];
    }
    return true;
}
