#include "toolkit/FileDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
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
    if (m_preset) {
        chosen = std::exchange(m_preset, std::nullopt);
    } else if (!script().empty()) {
        chosen = script().front();
        script().pop_front();
    } else {
        QFileDialog dialog(m_owner);
        const bool opens = m_kind == Open || m_kind == OpenText;
        dialog.setAcceptMode(opens ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (m_kind == OpenText || m_kind == SaveText) {
            // The list sits in the dialog's own layout, under the file type row.
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
                auto *encodings = new QComboBox(&dialog);
                encodings->setObjectName(QStringLiteral("encodings"));
                encodings->addItems({QStringLiteral("ANSI"), QStringLiteral("ASCII"),
                                     QStringLiteral("Unicode"),
                                     QStringLiteral("Big Endian Unicode"), QStringLiteral("UTF-8"),
                                     QStringLiteral("UTF-7")});
                auto *label = new QLabel(QStringLiteral("Encodage :"), &dialog);
                label->setBuddy(encodings);
                const int row = grid->rowCount();
                grid->addWidget(label, row, 0);
                grid->addWidget(encodings, row, 1);
            }
        }
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
