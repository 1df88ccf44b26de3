#include "FExtraction_Unit.h"

#include "ApplicationWindows.h"

#include "primitives/LineReader.h"
#include "primitives/SourceFile.h"
#include "primitives/TextFile.h"
#include "rules/AddressList.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDrop.h"
#include "toolkit/Pump.h"
#include "toolkit/WindowLook.h"
#include "ui_FExtraction.h"

#include <QCheckBox>

TFExtraction *const &FExtraction = applicationWindows().extraction;

// The scan as the window shows it: each line into the raw-line box, the pieces into the
// address list, the log lines into the log box; messages pumped at each progress point.
class TFExtraction::ScanView : public ExtractionSink
{
  public:
    explicit ScanView(TFExtraction &window) : m_window(window) {}
    // The raw-line box refers to the file's bytes (kept open for it) instead of copying
    // them, where the file can be opened once more.
    void line(QStringView line) override
    {
        if (!m_sourceOpened) {
            m_sourceOpened = true;
            m_source = SourceFile::open(m_window.Job.ExtractionFileName);
        }
        m_shownAt = m_source ? m_window.ui->Memo1->addSourceLine({}, line, {}, m_source,
                                                                 *m_window.Job.ExtractionLineReader)
                             : m_window.ui->Memo1->addLine(line);
    }
    // The raw-line box holds the same text: the hidden field shows it from there.
    void addressLine(QStringView) override { m_window.m_lineFieldLine = m_shownAt; }
    // The address list refers to the file the same way: its pieces are found again in
    // the lines when they are needed.
    void piece(QStringView piece) override
    {
        if (m_source)
            m_window.ui->ListBox1->addSourceItem(piece, m_source,
                                                 *m_window.Job.ExtractionLineReader,
                                                 Extraction::forEachPieceOfLine);
        else
            m_window.ui->ListBox1->add(piece);
    }
    std::optional<QString> progressPoint(qint64, qint64) override
    {
        Pump::pumpMessages();
        return m_window.ui->Edit3->text(); // read again: the user may have changed it
    }
    void log(const QString &line) override { m_window.appendLog(line); }

  private:
    TFExtraction &m_window;
    qsizetype m_shownAt = -1;
    bool m_sourceOpened = false;
    std::shared_ptr<const SourceFile> m_source;
};

TFExtraction::TFExtraction(QWidget *parent)
    : QWidget(parent), ui(new Ui::TFExtraction), OpenDialog1(this, FileDialog::Open),
      SaveTextFileDialog1(this, FileDialog::SaveText)
{
    ui->setupUi(this);
    WindowLook::apply(this, true);
    ui->Memo1->setText(QStringLiteral("\r\n"));
    using ErrorDisplay::connectClick;
    connectClick(ui->Button4, [this] { Button4Click(); });
    connectClick(ui->Button10, [this] { Button10Click(); });
    connectClick(ui->Button7, [this] { Button7Click(); });
    connectClick(ui->Button8, [this] { Button8Click(); });
    connectClick(ui->Button5, [this] { Button5Click(); });
    connectClick(ui->Button9, [this] { Button9Click(); });
    connectClick(ui->Button6, [this] { Button6Click(); });
    // The hidden line field is filled once the scan has ended (no one sees it before): a
    // line of a hundred megabytes is not copied into it at every pump.
    m_batchId = Pump::registerBatch([this] {
        if (!Job.ExtractionLineReader)
            syncLineField();
    });
    // Ignore case qualifies Unique.
    connect(ui->UniqueCheckBox, &QCheckBox::toggled, ui->IgnoreCaseCheckBox, &QWidget::setEnabled);
    // A file dropped on the window is opened as if chosen in Open's dialog.
    FileDrop::install(
        this, [this] { return !Job.ExtractionLineReader; },
        [this](const QStringList &files) {
            OpenDialog1.answerNext(files.first());
            Button4Click();
        });
    FormCreate();
}

TFExtraction::~TFExtraction()
{
    Pump::unregisterBatch(m_batchId);
    delete ui;
}

void TFExtraction::FormCreate()
{
    Job.ExtractionRunning = true;
}

void TFExtraction::appendLog(const QString &line)
{
    ui->Memo2->addLine(line);
}

void TFExtraction::syncLineField()
{
    if (m_lineFieldLine < 0)
        return;
    // The field holds at most its maximum length of a line: no more is read.
    const QString text = ui->Memo1->content().line(m_lineFieldLine, ui->Edit1->maxLength());
    m_lineFieldLine = -1;
    if (ui->Edit1->text() != text)
        ui->Edit1->setText(text);
}

void TFExtraction::Button4Click()
{
    if (Job.ExtractionLineReader)
        return; // one scan at a time: Open during a scan's pump is ignored
    Job.ExtractionRunning = true;
    Button10Click();
    if (!m_dialogConfirmed)
        return;
    Button7Click();
    Button8Click();
}

void TFExtraction::Button10Click()
{
    ui->Memo2->clear();
    m_dialogConfirmed = OpenDialog1.execute();
    if (!m_dialogConfirmed)
        return;
    appendLog(ExtractionJob::sizeReport(OpenDialog1.fileName()));
}

void TFExtraction::Button7Click()
{
    const auto [count, line] = ExtractionJob::countPass(OpenDialog1.fileName());
    ui->Edit3->setText(QString::number(count));
    appendLog(line);
}

void TFExtraction::Button8Click()
{
    ScanView view(*this);
    Job.scan(OpenDialog1.fileName(), view);
}

void TFExtraction::Button5Click()
{
    const QString fieldText = ui->Edit1->text();
    ListBox *addresses = ui->ListBox1;
    Extraction::forEachAddressPiece(Extraction::upToNul(fieldText),
                                    [addresses](QStringView piece) { addresses->add(piece); });
}

void TFExtraction::Button9Click()
{
    Job.ExtractionRunning = false;
}

void TFExtraction::Button6Click()
{
    if (!SaveTextFileDialog1.execute())
        return;
    // Saved over the scanned file: the boxes let go of it where it would stand in the way.
    ui->Memo1->letGoOf(SaveTextFileDialog1.fileName());
    ui->ListBox1->letGoOf(SaveTextFileDialog1.fileName());
    const AddressChoices choices{ui->UniqueCheckBox->isChecked(), ui->SortedCheckBox->isChecked(),
                                 ui->ValidOnlyCheckBox->isChecked(),
                                 ui->IgnoreCaseCheckBox->isChecked()};
    if (!choices.any()) {
        ui->ListBox1->saveToFile(SaveTextFileDialog1.fileName());
        return;
    }
    qint64 written = 0;
    saveTextFile(SaveTextFileDialog1.fileName(), TextEncoding::None, [&](const TextWriter &write) {
        AddressListWriter addresses(choices, write);
        ui->ListBox1->forEachItem([&](QStringView piece) { addresses.add(piece); });
        written = addresses.finish();
    });
    appendLog(QStringLiteral("Saved %1 of %2 addresses (%3)")
                  .arg(written)
                  .arg(ui->ListBox1->count())
                  .arg(choices.names()));
}
