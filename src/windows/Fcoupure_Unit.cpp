#include "Fcoupure_Unit.h"

#include "ApplicationWindows.h"

#include "rules/Cutting.h"

#include "primitives/Clock.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/Numbers.h"
#include "toolkit/CopyView.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDrop.h"
#include "toolkit/WindowLook.h"
#include "ui_Fcoupure.h"

#include <QCheckBox>
#include <QCloseEvent>

TFcoupure *const &Fcoupure = applicationWindows().cut;

namespace {
const QString CutDoneText = QStringLiteral("Cut Done, Check the folder !");
const QString CutFailedText = QStringLiteral("Cut failed, see the message.");

// A cut that kept lines whole and made fewer pieces than planned.
QString fewerPiecesText(qsizetype made, qsizetype planned)
{
    return QStringLiteral(" %1 of %2 pieces: the file has fewer lines than pieces.")
        .arg(made)
        .arg(planned);
}

QString cutStoppedText(const QStringList &kept)
{
    return QStringLiteral("Cut stopped: the unfinished piece was removed; ") +
           Cutting::keptPieces(kept);
}
} // namespace

TFcoupure::TFcoupure(QWidget *parent)
    : QWidget(parent), ui(new Ui::TFcoupure), OpenDialog1(this, FileDialog::Open),
      OpenTextFileDialog1(this, FileDialog::OpenText)
{
    ui->setupUi(this);
    WindowLook::apply(this, false);
    ui->UpDown1->setRange(0, 100);
    ui->UpDown1->setAssociate(ui->Edit2);
    using ErrorDisplay::connectClick;
    connectClick(ui->Button4, [this] { Button4Click(); });
    connectClick(ui->Button1, [this] { Button1Click(); });
    connectClick(ui->Button2, [this] { Button2Click(); });
    connect(ui->UpDown1, &UpDown::clicked, this,
            [this] { ErrorDisplay::runGuarded([this] { UpDown1Click(); }); });
    // A header is repeated only in pieces cut at line ends.
    connect(ui->KeepLinesWhole, &QCheckBox::toggled, ui->HeaderInEveryPiece, &QWidget::setEnabled);
    // A file dropped on the window is selected as if chosen in Select File's dialog.
    FileDrop::install(
        this, [this] { return !Job.isCopying(); },
        [this](const QStringList &files) {
            OpenDialog1.answerNext(files.first());
            Button4Click();
        });
}

TFcoupure::~TFcoupure()
{
    delete ui;
}

void TFcoupure::Button4Click()
{
    ui->Edit1->clear();
    ui->Edit2->clear();
    ui->Edit3->clear();
    ui->Edit4->clear();
    ui->Edit5->clear();
    ui->ListBox1->clear();
    if (!OpenDialog1.execute())
        return;
    const auto [nameField, kib] = Job.select(OpenDialog1.fileName());
    ui->Edit1->setText(nameField);
    ui->Edit3->setText(QString::number(kib));
}

void TFcoupure::UpDown1Click()
{
    const int kib = Numbers::StrToInt(ui->Edit3->text());
    const int count = Numbers::StrToInt(ui->Edit2->text());
    ui->Edit4->setText(QString::number(CutJob::pieceKib(kib, count)));
}

void TFcoupure::Button1Click()
{
    const QDateTime now = Clock::now();
    const int count = Numbers::StrToInt(ui->Edit2->text());
    if (count <= 0)
        return;
    Job.plan(ui->Edit1->text(), count, now);
    for (const QString &name : std::as_const(Job.PieceNames))
        ui->ListBox1->add(name);
}

void TFcoupure::Button2Click()
{
    if (Job.isCopying()) {
        Job.stop(); // the button reads "Stop" while the cut runs
        return;
    }
    ui->Edit5->clear();
    const CutJob::CutOptions options{ui->KeepLinesWhole->isChecked(),
                                     ui->HeaderInEveryPiece->isChecked(),
                                     ui->WriteChecksums->isChecked()};
    // Pieces cut at line ends share the file out by its lines, not by the size field.
    const qint64 pieceSize =
        options.keepLinesWhole ? 0 : qint64(Numbers::StrToInt(ui->Edit4->text())) * 1024;
    if (ui->ListBox1->count() == 0) {
        ui->Edit5->setText(CutDoneText);
        return;
    }
    bool finished = false;
    try {
        CopyView view(ui->Edit5, ui->Button2,
                      {ui->Button4, ui->Button1, ui->UpDown1, ui->KeepLinesWhole,
                       ui->HeaderInEveryPiece, ui->WriteChecksums});
        finished = Job.CutFileIntoPieces(OpenDialog1.fileName(), pieceSize, &view, options);
    } catch (...) {
        ui->Edit5->setText(CutFailedText);
        throw;
    }
    QString status = finished ? CutDoneText : cutStoppedText(Job.CompletePieces);
    if (finished && options.keepLinesWhole && Job.CompletePieces.size() < Job.PieceNames.size())
        status += fewerPiecesText(Job.CompletePieces.size(), Job.PieceNames.size());
    ui->Edit5->setText(status);
}

void TFcoupure::closeEvent(QCloseEvent *event)
{
    Job.stop(); // a cut running now ends at its next report
    QWidget::closeEvent(event);
}
