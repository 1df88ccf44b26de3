#pragma once

// The rules of Join Files, shared by its window and the command line.
#include "rules/Copying.h"

#include <QString>
#include <QStringList>
#include <functional>

class FileStream;

// Companion number of a name: its stem (up to its extension dot, where no '\', '/' or ':'
// follows that dot), "._" and the number.
QString CompanionName(const QString &fileName, int number);

// The listed file and its companions 2, 3, ... up to the first missing one.
QStringList SeriesOf(const QString &fileName);

// The Join Files tool's work: the join, its progress and its stop.
class JoinJob : public CopyingJob
{
  public:
    // Writes each source followed by its companions into the destination, reporting the
    // progress to sink (none for null): the destination changes only when the join is
    // complete. A destination that is one of the files to read is refused before anything
    // is created. A listed source that is missing or a folder is passed over, and named to
    // passedOver. False when stopped: the destination is as it was. With verify, where a
    // checksum file in the first source's folder lists that source (a cut's), each piece
    // it lists and the destination (against its source's line) are checked against it:
    // ChecksumVerdict says what was found.
    bool JoinFiles(const QString &destinationName, const QStringList &sources,
                   const std::function<void(const QString &)> &passedOver = {},
                   CopySink *sink = nullptr, bool verify = false);

    // The latest join's check: what it found ("checksum matches (file.sha256)" or what
    // differs; empty when no checksum file lists the first source), and whether every
    // listed piece and the destination match.
    QString ChecksumVerdict;
    bool ChecksumMatches = false;
};
