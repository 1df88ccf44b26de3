#pragma once

// Checksum files as sha256sum writes them and `sha256sum -c` reads them: a line a file, its
// SHA-256 digest in hexadecimal, two spaces and its name, found from the checksum file's
// folder. A cut writes one beside its pieces; a join checks the pieces and its destination
// against it.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class FileStream;
class Sha256;

namespace Checksums {

// The checksum file of a cut of source: beside the first piece, named after the source with
// ".sha256" added ("contacts.txt.sha256").
QString fileNameFor(const QString &sourceName, const QString &firstPiece);

// A line of a checksum file for the file of that name (its name part is written).
QByteArray line(const QByteArray &hexDigest, const QString &fileName);

// Hashes bytes [from, to) of file into each of hashes, a block at a time; read is told of
// each block's size (and may throw to stop).
void hashRange(FileStream &file, qint64 from, qint64 to, const QList<Sha256 *> &hashes,
               const std::function<void(qint64 bytes)> &read = {});

// A checksum file read back.
struct Listing
{
    QString fileName;                   // the checksum file
    QHash<QString, QByteArray> digests; // each listed name and its digest in hexadecimal
    QString wholeName;                  // the source's name: the file's name without ".sha256"
    // The digest listed for a file, when it is listed by its name and lies in the checksum
    // file's folder.
    std::optional<QByteArray> digestOf(const QString &file) const;
};
// The checksum file in the folder of fileName that lists it ("*.sha256", read in name
// order; the files that cannot be read or are no checksum files are passed over).
std::optional<Listing> findListing(const QString &fileName);

} // namespace Checksums
