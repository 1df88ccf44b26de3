#include "Fjointure_Unit.h"

#include "ApplicationWindows.h"

#include "rules/Joining.h"

#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "toolkit/CopyView.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDrop.h"
#include "toolkit/WindowLook.h"
#include "ui_Fjointure.h"

#include <QCloseEvent>

TFjointure *const &Fjointure = applicationWindows().join;

namespace {

const QString JoinDoneText = QStringLiteral("Files Joinded Succesfully !, Check the folder !");
const QString JoinFailedText = QStringLiteral("Join failed, see the message.");
const QString JoinStoppedText = QStringLiteral("Join stopped: the destination was left as it was.");

} // namespace

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
        this, [this] { return !Job.isCopying(); },
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
    if (Job.isCopying()) {
        Job.stop(); // the button reads "Stop" while the join runs
        return;
    }
    const QStringList sources = ui->ListBox1->items();
    if (sources.isEmpty()) {
        ui->Edit5->setText(JoinDoneText);
        return;
    }
    bool finished = false;
    try {
        CopyView view(ui->Edit5, ui->Button2, {ui->Button1, ui->Button3});
        // A checksum file beside the first source that lists it is checked.
        finished = Job.JoinFiles(ui->Edit1->text(), sources, {}, &view, true);
    } catch (...) {
        ui->Edit5->setText(JoinFailedText);
        throw; // the message goes to the default error display
    }
    QString status = finished ? JoinDoneText : JoinStoppedText;
    if (finished && !Job.ChecksumVerdict.isEmpty())
        status += u' ' + Job.ChecksumVerdict;
    ui->Edit5->setText(status);
}

void TFjointure::closeEvent(QCloseEvent *event)
{
    Job.stop(); // a join running now ends at its next report
    QWidget::closeEvent(event);
}
