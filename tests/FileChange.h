#pragma once

// Another program's change to a file the program has read, as the tests make it.
#include <QDateTime>
#include <QFile>
#include <QString>

// Changes the file name the way change says: "byte" (the byte at `at` made another, the
// size and modification time kept), "shortened" (cut at `at`, the time kept),
// "lengthened" (a line added at the end, the time kept), "renamed over" (a file of the same
// size renamed over it) or "deleted". False when a step fails.
inline bool changeFile(const QString &name, const QString &change, qint64 at)
{
    if (change == "renamed over") {
        QFile other(name + ".other");
        const qint64 size = QFile(name).size();
        return other.open(QIODevice::WriteOnly) && other.write(QByteArray(size, 'z')) == size &&
               (other.close(), true) && QFile::remove(name) &&
               QFile::rename(other.fileName(), name);
    }
    if (change == "deleted")
        return QFile::remove(name);
    QFile file(name);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    bool changed = false;
    if (change == "byte") {
        char old = 0;
        changed = file.seek(at) && file.getChar(&old) && file.seek(at) &&
                  file.putChar(old == 'x' ? 'y' : 'x');
    } else if (change == "shortened") {
        changed = file.resize(at);
    } else if (change == "lengthened") {
        changed = file.seek(file.size()) && file.write("more\n") == 5;
    }
    return changed && file.setFileTime(modified, QFileDevice::FileModificationTime);
}
