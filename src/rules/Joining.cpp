#include "rules/Joining.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Sha256.h"
#include "rules/Checksums.h"

#include <QFileInfo>

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
                        const std::function<void(const QString &)> &passedOver, CopySink *sink,
                        bool verify)
{
    ChecksumVerdict.clear();
    ChecksumMatches = false;
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
    const std::optional<Checksums::Listing> listing =
        verify && !sources.isEmpty() ? Checksums::findListing(sources.first()) : std::nullopt;
    Run run(*this, listing ? 2 * total : total, sink);
    // Made whole beside the destination and put in its place at the end: a stop, a failure
    // or a signal leaves the old destination as it was.
    FileReplacement destination(destinationName, inputs);
    Sha256 whole;    // of the destination: the pieces in order
    QString differs; // the first listed piece that differs
    try {
        for (qsizetype i = 0; i < sources.size(); ++i) {
            if (passedOver && series[i].isEmpty())
                passedOver(sources[i]);
            for (const QString &name : std::as_const(series[i])) {
                FileStream piece(name, FileMode::OpenReadDenyWrite);
                run.copy(destination, piece, 0, name);
                if (!listing)
                    continue;
                // The piece read again, while it is still open and kept from change.
                const std::optional<QByteArray> listed = listing->digestOf(name);
                Sha256 own;
                Checksums::hashRange(piece, 0, piece.size(),
                                     listed ? QList<Sha256 *>{&own, &whole}
                                            : QList<Sha256 *>{&whole},
                                     [&](qint64 bytes) { run.advance(name, bytes); });
                if (listed && own.hex() != *listed && differs.isEmpty())
                    differs = name;
            }
        }
    } catch (const CopyStopped &) {
        return false;
    }
    run.commit(destination, destinationName);
    if (!listing)
        return true;
    const QString listingName = QFileInfo(listing->fileName).fileName();
    const QByteArray wholeListed = listing->digests.value(listing->wholeName);
    if (!differs.isEmpty()) {
        ChecksumVerdict = QStringLiteral("checksum differs: the piece \"%1\" is not the one "
                                         "listed in \"%2\"")
                              .arg(QFileInfo(differs).fileName(), listingName);
    } else if (wholeListed.isEmpty() || whole.hex() != wholeListed) {
        ChecksumVerdict =
            QStringLiteral("checksum differs: \"%1\" is not \"%2\" as listed "
                           "in \"%3\"")
                .arg(QFileInfo(destinationName).fileName(), listing->wholeName, listingName);
    } else {
        ChecksumMatches = true;
        ChecksumVerdict = QStringLiteral("checksum matches (%1)").arg(listingName);
    }
    return true;
}
