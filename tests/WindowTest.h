#pragma once

// Helpers shared by the window tests: the five windows created as at start-up, scripted
// dialogs, recorded error messages and small files in a temporary folder.
#include "FExtraction_Unit.h"
#include "Fcoupure_Unit.h"
#include "Fedittext_Unit.h"
#include "Fiche_principale_Unit.h"
#include "Fjointure_Unit.h"
#include "primitives/Errors.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDialog.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_WIN
// The offscreen platform reads its fonts from a folder, by default one beside Qt: there,
// Windows' own fonts.
inline const bool windowsFontsForOffscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR"))
        qputenv("QT_QPA_FONTDIR", qgetenv("WINDIR") + "\\Fonts");
    return true;
}();
#endif

struct WindowFixture
{
    QTemporaryDir dir;
    QStringList errors;

    WindowFixture()
    {
        CreateApplicationWindows();
        ErrorDisplay::setSink([this](const QString &message) { errors << message; });
    }
    ~WindowFixture()
    {
        ErrorDisplay::setSink({});
        FileDialog::clearScript();
        DestroyApplicationWindows();
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return path(name);
    }
    static QByteArray read(const QString &fileName)
    {
        QFile file(fileName);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    QString takeError() { return errors.isEmpty() ? QString() : errors.takeFirst(); }
};

// Lines of the extraction window's log box, split at CR LF only (the count line holds a
// lone CR).
inline QStringList extractionLog(const QString &text)
{
    QString log = text;
    if (log.endsWith("\r\n"))
        log.chop(2);
    return log.isEmpty() ? QStringList() : log.split("\r\n");
}

// Queues dialog answers: a name confirms, nullopt cancels.
inline void answer(std::optional<QString> name)
{
    FileDialog::scriptAnswer(std::move(name));
}
