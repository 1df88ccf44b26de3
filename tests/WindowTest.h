#pragma once

// Helpers shared by the window tests: the five windows created as at start-up, scripted
// dialogs, recorded error messages and small files in a temporary folder.
#include "FExtraction_Unit.h"
#include "Fcoupure_Unit.h"
#include "Fedittext_Unit.h"
#include "Fiche_principale_Unit.h"
#include "Fjointure_Unit.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDialog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
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

// A slow medium under the copies of Join Files and Cut Files: each step of a copy waits a
// little, and the texts the status field shows are recorded. Once `when` holds for them, a
// user's action is queued; it runs at the copy's next pump, and answeredMs says how long
// after it was queued.
struct SlowCopy
{
    QStringList texts;
    qint64 answeredMs = -1;

    SlowCopy(QLineEdit *status, std::function<bool(const QStringList &)> when,
             std::function<void()> action)
    {
        BeforeCopyStepHook() = [this, status, when, action] {
            QThread::msleep(15);
            if (texts.isEmpty() || texts.last() != status->text())
                texts << status->text();
            if (m_queued || !when(texts))
                return;
            m_queued = true;
            m_queuedAt.start();
            QTimer::singleShot(0, [this, action] {
                answeredMs = m_queuedAt.elapsed();
                action();
            });
        };
    }
    ~SlowCopy() { BeforeCopyStepHook() = {}; }
    // The progress texts shown, without the empty field before the first report.
    QStringList progressTexts() const
    {
        QStringList shown = texts;
        shown.removeAll(QString());
        return shown;
    }

  private:
    bool m_queued = false;
    QElapsedTimer m_queuedAt;
};

// A file of size bytes that takes no room (zeros read back).
inline QString sparseFile(const QString &fileName, qint64 size)
{
    QFile file(fileName);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.resize(size);
    return fileName;
}
