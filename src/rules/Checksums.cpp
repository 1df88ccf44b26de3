#include "rules/Checksums.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Sha256.h"

#include <QDir>
#include <QFileInfo>

namespace Checksums {

namespace {
constexpr qint64 HashBlock = 1 << 20;
constexpr qint64 MaxListingSize = 16 << 20; // a checksum file of many pieces is far smaller
const QString Suffix = QStringLiteral(".sha256");

QString folderOf(const QString &fileName)
{
    return QFileInfo(fileName).absolutePath();
}

// The listing of a checksum file's lines "<64 hex digits>  <name>" (or " *<name>"), or none
// when a line is not such a line.
std::optional<Listing> readListing(const QString &fileName)
{
    QFile file(fileName);
    if (file.size() > MaxListingSize || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Listing listing{fileName, {}, QFileInfo(fileName).fileName().chopped(Suffix.size())};
    for (QByteArray text : file.readAll().split('\n')) {
        if (text.endsWith('\r'))
            text.chop(1);
        if (text.isEmpty())
            continue;
        const QByteArray digest = text.left(64).toLower();
        if (text.size() < 67 || text[64] != ' ' || (text[65] != ' ' && text[65] != '*') ||
            QByteArray::fromHex(digest).toHex() != digest)
            return std::nullopt;
        listing.digests.insert(QString::fromUtf8(text.mid(66)), digest);
    }
    return listing;
}
} // namespace

QString fileNameFor(const QString &sourceName, const QString &firstPiece)
{
    return QDir(folderOf(firstPiece)).filePath(QFileInfo(sourceName).fileName() + Suffix);
}

QByteArray line(const QByteArray &hexDigest, const QString &fileName)
{
    return hexDigest + "  " + QFileInfo(fileName).fileName().toUtf8() + '\n';
}

void hashRange(FileStream &file, qint64 from, qint64 to, const QList<Sha256 *> &hashes,
               const std::function<void(qint64)> &read)
{
    QByteArray block(int(qMin(HashBlock, qMax<qint64>(to - from, 1))), Qt::Uninitialized);
    file.setPosition(from);
    for (qint64 at = from; at < to;) {
        const qint64 got = file.read(block.data(), qMin<qint64>(block.size(), to - at));
        if (got < 0)
            throw Errors::readError();
        if (got == 0)
            throw QuorvaneError(QStringLiteral("The file \"%1\" was shortened while it was read")
                                    .arg(NativeFileName(file.fileName())));
        for (Sha256 *hash : hashes)
            hash->add(block.constData(), got);
        at += got;
        if (read)
            read(got);
    }
}

std::optional<QByteArray> Listing::digestOf(const QString &file) const
{
    if (folderOf(file) != folderOf(fileName))
        return std::nullopt;
    const auto found = digests.constFind(QFileInfo(file).fileName());
    return found == digests.cend() ? std::nullopt : std::optional(*found);
}

std::optional<Listing> findListing(const QString &fileName)
{
    const QDir folder(folderOf(fileName));
    for (const QString &name :
         folder.entryList({QStringLiteral("*") + Suffix}, QDir::Files, QDir::Name)) {
        std::optional<Listing> listing = readListing(folder.filePath(name));
        if (listing && listing->digestOf(fileName))
            return listing;
    }
    return std::nullopt;
}

} // namespace Checksums
