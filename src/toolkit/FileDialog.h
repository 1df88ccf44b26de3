#pragma once

#include <QString>
#include <optional>

class QWidget;

// The system's file dialogs as the windows use them: modal, confirmed or cancelled, keeping
// the last confirmed name on cancel. Confirming makes the chosen file's folder the current
// folder. Tests script the answers instead of showing the dialog.
class FileDialog
{
  public:
    enum Kind
    {
        Open,
        Save,
        OpenText, // the text-file dialogs also show an encoding list, which nothing reads
        SaveText
    };
    FileDialog(QWidget *owner, Kind kind) : m_owner(owner), m_kind(kind) {}

    bool execute();
    // The next execute() confirms this name at once, as if the user had chosen it (a file
    // dropped on the window).
    void answerNext(const QString &fileName) { m_preset = fileName; }
    const QString &fileName() const { return m_fileName; }

    // Queues the answer of the next dialog shown: a file name to confirm, or nullopt to
    // cancel. While answers are queued no dialog is shown.
    static void scriptAnswer(std::optional<QString> answer);
    static int scriptedAnswersLeft();
    static void clearScript();

  private:
    QWidget *m_owner;
    Kind m_kind;
    QString m_fileName;
    std::optional<QString> m_preset;
};
