#pragma once

// The rules of Cut Files, shared by its window and the command line.
#include "rules/Copying.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

namespace Cutting {

// The extension of a chosen file, dot included, or nothing.
QString extensionOf(const QString &fileName);
// The name field of Select File: the start of the file's name, as many characters as the
// extension and five more.
QString nameField(const QString &fileName);
// The names of the pieces of a plan made at now: the name field, "_", the piece number,
// the date and time stamp and the extension.
QStringList pieceNames(const QString &nameField, int count, const QDateTime &now,
                       const QString &extension);
// What a cut that ended early kept: "kept 2 piece(s): a, b." or "no piece was kept.".
QString keptPieces(const QStringList &kept);

// Where the pieces of a cut that keeps lines whole end, in the file's bytes: the first line
// (CR LF, LF or CR ends a line) is the header when there is one.
struct LinePlan
{
    qint64 headerEnd = 0;     // the header is the bytes before it
    std::vector<qint64> ends; // each piece's end; the last is the file's size
};
// Plans count pieces of the file's lines (after its first line, with header), as equal in
// size as whole lines allow: piece k ends with the line that holds the byte at k / count of
// them, each piece holds one line or more, and there are fewer pieces only when there are
// fewer lines (at least one piece, empty for an empty file). scanned is told of each block
// read when the plan needs every line (lines longer than a piece, or few of them); it may
// throw to stop.
LinePlan planLines(FileStream &file, int count, bool header,
                   const std::function<void(qint64 at)> &scanned = {});

} // namespace Cutting

// The Cut Files tool's work: Select File, the piece size the spinner shows, the plan of "ok"
// and the cut, with the values of the latest selection and plan.
class CutJob : public CopyingJob
{
  public:
    // The largest plan that plan accepts.
    static constexpr int MaxPieces = 10000;

    // Keeps the chosen file's extension; gives its name field and its size in whole KiB.
    std::pair<QString, qint64> select(const QString &fileName);
    // The size of each piece in KiB; a count of 0 is the division by zero.
    static qint64 pieceKib(qint64 kib, int count);
    // Names count pieces after the name field (none for a count of 0 or below); more than
    // MaxPieces are refused.
    void plan(const QString &nameField, int count, const QDateTime &now);
    // Writes the planned pieces, in the current folder unless the names say otherwise,
    // piece b holding the bytes of the source from (b - 1) x size; the last planned piece
    // runs on to the end of the source, and no piece is made past the end of the source
    // (the first always is). A name that is the source itself is refused before anything
    // is created. Each piece replaces a file of its name only once it is complete. The
    // progress goes to sink (none for null). False when stopped: the unfinished piece is not
    // made, the finished ones stay (CompletePieces). A failure's message names the piece it
    // stopped at and the pieces kept.
    bool CutFileIntoPieces(const QString &sourceName, qint64 pieceSize, CopySink *sink = nullptr);
    // The same, where keepLinesWhole cuts the planned pieces at line ends (planLines; piece
    // size unused), and header (with it) starts every piece after the first with the file's
    // first line. The bytes are copied as they are: joined, the pieces without a header give
    // the file back. With checksums, a checksum file beside the pieces (Checksums) lists
    // each piece's SHA-256 digest and, last, the source's; it is written once every piece is.
    struct CutOptions
    {
        bool keepLinesWhole = false;
        bool header = false;
        bool checksums = false;
    };
    bool CutFileIntoPieces(const QString &sourceName, qint64 pieceSize, CopySink *sink,
                           CutOptions options);

    // The extension, dot included, of the file last selected.
    QString SourceExtension;
    // The names of the pieces of the latest plan, piece b at index b - 1.
    QStringList PieceNames;
    // The pieces the latest cut wrote whole.
    QStringList CompletePieces;
    // The checksum file the latest cut wrote (empty: none).
    QString ChecksumFile;
};
