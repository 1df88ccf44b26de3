#include "rules/Joining.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"

namespace {

// Refuses a destination that is one of the pieces the join would read: creating it would
// empty that piece before it is read.
void checkDestination(const QString &destination, const QList<QStringList> &series)
{
    if (!FileExists(destination))
        return; // a new file cannot be a piece
    for (const QStringList &pieces : series)
        for (const QString &name : pieces)
            if (SameFile(name, destination))
                throw QuorvaneError(
                    QStringLiteral("The destination \"%1\" is one of the files to join (%2)")
                        .arg(destination, name));
}

} // namespace

QString CompanionName(const QString &fileName, int number)
{
    const qsizetype dot = ExtensionDot(fileName);
    return fileName.left(dot < 0 ? fileName.size() : dot) + QStringLiteral("._") +
           QString::number(number);
}

QStringList SeriesOf(const QString &fileName)
{
    QStringList series;
    int number = 1;
    for (QString name = fileName; FileExists(name); name = CompanionName(name, ++number))
        series << name;
    return series;
}

bool JoinJob::JoinFiles(const QString &destinationName, const QStringList &sources,
                        const std::function<void(const QString &)> &passedOver, CopySink *sink)
{
    QList<QStringList> series; // each source's pieces, listed once
    qint64 total = 0;
    for (const QString &source : sources) {
        series << SeriesOf(source);
        for (const QString &name : std::as_const(series.last()))
            total += qMax<qint64>(FileSizeOf(name), 0);
    }
    checkDestination(destinationName, series);
    QStringList inputs;
    for (const QStringList &pieces : std::as_const(series))
        inputs += pieces;
    Run run(*this, total, sink);
    // Made whole beside the destination and put in its place at the end: a stop, a failure
    // or a signal leaves the old destination as it was.
    FileReplacement destination(destinationName, inputs);
    try {
        for (qsizetype i = 0; i < sources.size(); ++i) {
            if (passedOver && series[i].isEmpty())
                passedOver(sources[i]);
            for (const QString &name : std::as_const(series[i])) {
                FileStream piece(name, FileMode::OpenReadDenyWrite);
                run.copy(destination, piece, 0, name);
            }
        }
    } catch (const CopyStopped &) {
        return false;
    }
    run.commit(destination, destinationName);
    return true;
}
