#include "rules/Cutting.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

void CutIntoPieces(const QString &sourceName, const QStringList &pieceNames, qint64 pieceSize)
{
    if (sourceName.isEmpty())
        throw QuorvaneError(QStringLiteral("No file was chosen: use Select File first"));
    if (pieceSize <= 0)
        throw QuorvaneError(QStringLiteral("The size of a piece must be at least 1 Kb"));
    // Creating a piece that is the source itself would empty it before it is read.
    for (const QString &name : std::as_const(pieceNames))
        if (SameFile(name, sourceName))
            throw QuorvaneError(
                QStringLiteral("The piece \"%1\" would replace the file being cut").arg(name));
    FileStream source(sourceName, FileMode::OpenReadDenyWrite);
    const qint64 size = source.size();
    for (qsizetype b = 0; b < pieceNames.size(); ++b) {
        const qint64 remaining = size - source.position();
        if (b > 0 && remaining <= 0)
            break; // no empty pieces past the end of the source
        FileStream piece(pieceNames[b], FileMode::CreateExclusive);
        const bool last = b == pieceNames.size() - 1;
        const qint64 n = last ? remaining : qMin(pieceSize, remaining);
        if (n > 0) // a count of 0 would copy the whole source
            CopyFrom(piece, source, n);
    }
}

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

void CutJob::CutFileIntoPieces(const QString &sourceName, qint64 pieceSize) const
{
    CutIntoPieces(sourceName, PieceNames, pieceSize);
}
