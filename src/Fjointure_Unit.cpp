#include "Fjointure_Unit.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDrop.h"
#include "toolkit/WindowLook.h"
#include "ui_Fjointure.h"

TFjointure *Fjointure = nullptr;

namespace {

const QString JoinDoneText = QStringLiteral("Files Joinded Succesfully !, Check the folder !");
const QString JoinFailedText = QStringLiteral("Join failed, see the message.");

// Refuses a destination that is one of the pieces the join would read: creating it would
// empty that piece before it is read.
void checkDestination(const QString &destination, const QStringList &sources)
{
    if (!FileExists(destination))
        return; // a new file cannot be a piece
    for (const QString &source : sources) {
        QString name = source;
        for (int number = 1; FileExists(name); name = CompanionName(name, ++number))
            if (SameFile(name, destination))
                throw QuorvaneError(
                    QStringLiteral("The destination \"%1\" is one of the files to join (%2)")
                        .arg(destination, name));
    }
}

} // namespace

QString CompanionName(const QString &fileName, int number)
{
    const qsizetype dot = ExtensionDot(fileName);
    return fileName.left(dot < 0 ? fileName.size() : dot) + QStringLiteral("._") +
           QString::number(number);
}

void JoinFileInto(const QString &fileName, FileStream &destination)
{
    int number = 1;
    for (QString name = fileName; FileExists(name); name = CompanionName(name, ++number)) {
        FileStream piece(name, FileMode::OpenReadDenyWrite);
        CopyFrom(destination, piece, 0);
    }
}

void ResetJoinWindow(TFjointure *window)
{
    window->ui->Edit1->clear();
    window->ui->Edit5->clear();
    window->ui->ListBox1->clear();
}

TFjointure::TFjointure(QWidget *parent)
    : QWidget(parent), ui(new Ui::TFjointure), OpenTextFileDialog1(this, FileDialog::OpenText)
{
    ui->setupUi(this);
    WindowLook::apply(this, false);
    using ErrorDisplay::connectClick;
    connectClick(ui->Button1, [this] { Button1Click(); });
    connectClick(ui->Button3, [this] { Button3Click(); });
    connectClick(ui->Button2, [this] { Button2Click(); });
    // Files dropped on the window are added as Add File adds them, in the order dropped.
    FileDrop::install(
        this, [] { return true; },
        [this](const QStringList &files) {
            for (const QString &file : files) {
                OpenTextFileDialog1.answerNext(file);
                Button1Click();
            }
        });
}

TFjointure::~TFjointure()
{
    delete ui;
}

void TFjointure::Button1Click()
{
    if (OpenTextFileDialog1.execute())
        ui->ListBox1->add(OpenTextFileDialog1.fileName());
}

void TFjointure::Button3Click()
{
    if (OpenTextFileDialog1.execute())
        ui->Edit1->setText(OpenTextFileDialog1.fileName());
}

void TFjointure::Button2Click()
{
    const QStringList sources = ui->ListBox1->items();
    if (sources.isEmpty()) {
        ui->Edit5->setText(JoinDoneText);
        return;
    }
    try {
        const QString destinationName = ui->Edit1->text();
        checkDestination(destinationName, sources);
        FileStream destination(destinationName, FileMode::CreateExclusive);
        for (const QString &source : sources)
            JoinFileInto(source, destination);
    } catch (...) {
        ui->Edit5->setText(JoinFailedText);
        throw; // the message goes to the default error display
    }
    ui->Edit5->setText(JoinDoneText);
}
