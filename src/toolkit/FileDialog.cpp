#include "toolkit/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <deque>

namespace {
std::deque<std::optional<QString>> &script()
{
    static std::deque<std::optional<QString>> answers;
    return answers;
}
} // namespace

void FileDialog::scriptAnswer(std::optional<QString> answer)
{
    script().push_back(std::move(answer));
}

int FileDialog::scriptedAnswersLeft()
{
    return int(script().size());
}

void FileDialog::clearScript()
{
    script().clear();
}

bool FileDialog::execute()
{
    std::optional<QString> chosen;
    if (!script().empty()) {
        chosen = script().front();
        script().pop_front();
    } else {
        QFileDialog dialog(m_owner);
        dialog.setAcceptMode(m_kind == Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (!m_fileName.isEmpty())
            dialog.selectFile(m_fileName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (!chosen || chosen->isEmpty())
        return false;
    m_fileName = QDir::toNativeSeparators(QDir::current().absoluteFilePath(*chosen));
    QDir::setCurrent(QFileInfo(m_fileName).absolutePath());
    return true;
}
