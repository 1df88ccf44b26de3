#pragma once

// A scratch file for one fuzz input, in memory-backed storage where the system has it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <unistd.h>

inline QString fuzzFileName(const char *name)
{
    const QString folder =
        QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return folder + QStringLiteral("/quorvane-fuzz-%1-%2").arg(name).arg(getpid());
}

inline QString writeFuzzFile(const char *name, const uint8_t *data, size_t size)
{
    const QString path = fuzzFileName(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}
