#pragma once

// The rules of Cut Files, shared by its window and the command line.
#include <QDateTime>
#include <QString>
#include <QStringList>

// Writes the pieces named, in the current folder unless the names say otherwise, piece b
// holding the bytes from (b - 1) x size; the last runs on to the end of the source, and no
// piece is made past the end of the source (the first always is). A name that is the
// source itself is refused before anything is created.
void CutIntoPieces(const QString &sourceName, const QStringList &pieceNames, qint64 pieceSize);

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

} // namespace Cutting
