#include "FExtraction_Unit.h"

#include "primitives/Clock.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/LineReader.h"
#include "primitives/Numbers.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDrop.h"
#include "toolkit/Pump.h"
#include "toolkit/WindowLook.h"
#include "ui_FExtraction.h"

#include <cstring>

TFExtraction *FExtraction = nullptr;

using namespace Extraction;

bool ExtractionRunning = false;
QString ExtractionFileName;
qint64 ExtractionLineCount = 0;
qint64 ExtractionTicks = 0;
std::unique_ptr<LineReader> ExtractionLineReader;

void SplitDelimited(QChar delimiter, const QString &text, QStringList *list)
{
    if (!list)
        throw QuorvaneError(QStringLiteral("Echec de l'assertion (FExtraction_Unit, ligne 74)"));
    list->clear();
    Q_UNUSED(delimiter); // a separator like every character from 1 to 32
    forEachPiece(upToNul(text), [&](QStringView piece) { list->append(piece.toString()); });
}

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
    m_batchId = Pump::registerBatch([this] { syncLineField(); });
    // A file dropped on the window is opened as if chosen in Open's dialog.
    FileDrop::install(
        this, [] { return !ExtractionLineReader; },
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
    ExtractionRunning = true;
}

void TFExtraction::appendLog(const QString &line)
{
    ui->Memo2->addLine(line);
}

void TFExtraction::syncLineField()
{
    if (m_lineFieldLine < 0)
        return;
    const QString text = ui->Memo1->line(m_lineFieldLine);
    m_lineFieldLine = -1;
    if (ui->Edit1->text() != text)
        ui->Edit1->setText(text);
}

void TFExtraction::Button4Click()
{
    if (ExtractionLineReader)
        return; // one scan at a time: Open during a scan's pump is ignored
    ExtractionRunning = true;
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
    appendLog(QStringLiteral("File Size : %1 Bytes ").arg(FileSizeOf(OpenDialog1.fileName())));
}

void TFExtraction::Button7Click()
{
    double elapsed = 0;
    const qint64 count = CountLines(OpenDialog1.fileName(), &elapsed);
    const QString line = QStringLiteral("Lines read = %1\r elapsed time = %2")
                             .arg(count)
                             .arg(Numbers::formatGeneral(elapsed));
    ui->Edit3->setText(QString::number(count));
    appendLog(line);
}

void TFExtraction::Button8Click()
{
    ExtractionTicks = Clock::tickCount64();
    ExtractionLineCount = 0;
    ExtractionFileName = OpenDialog1.fileName();
    ExtractionLineReader = std::make_unique<LineReader>(ExtractionFileName);
    // Close, elapsed time and summary on every way out, before a failure is reported.
    auto finish = [this] {
        ExtractionLineReader.reset();
        ExtractionTicks = Clock::tickCount64() - ExtractionTicks;
        appendLog(QStringLiteral("%1 Records loaded in %2 seconds.")
                      .arg(ExtractionLineCount)
                      .arg(Numbers::formatGeneral(ExtractionTicks / 1000.0)));
    };
    try {
        Memo *rawLines = ui->Memo1;
        while (!ExtractionLineReader->EndOfStream() && ExtractionRunning) {
            const QStringView line = ExtractionLineReader->ReadLineView();
            const qsizetype shownAt = rawLines->addLine(line);
            const QStringView field = upToNul(line); // as an edit field holds it
            if (field.contains(u'@')) {
                // The raw-line box holds the same text: the hidden field shows it from
                // there at the next pump, and the splitter reads the line in place.
                m_lineFieldLine = shownAt;
                m_handedLine = field;
                Button5Click();
                m_handedLine.reset();
            }
            if (++ExtractionLineCount % 1000 == 0) {
                syncLineField();
                Pump::pumpMessages();
                const QString total = ui->Edit3->text();
                const qint64 t = Numbers::StrToInt64(total);
                // A count of 0 (a Ctrl-Z first) gives no percentage: the scan goes on.
                if (t == 0)
                    appendLog(QStringLiteral("Lines Done : %1 / %2").arg(ExtractionLineCount).arg(total));
                else
                    appendLog(QStringLiteral("Lines Done : %1 / %2 Percentage  :%3%")
                                  .arg(ExtractionLineCount)
                                  .arg(total, Numbers::formatOneDecimal(
                                                  double(ExtractionLineCount) / double(t) * 100)));
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TFExtraction::Button5Click()
{
    // During a scan the line is handed in place; otherwise it is the line field's text.
    const QString fieldText = m_handedLine ? QString() : ui->Edit1->text();
    const QStringView field = m_handedLine ? *m_handedLine : upToNul(fieldText);
    ListBox *addresses = ui->ListBox1;
    forEachAddressPiece(field, [addresses](QStringView piece) { addresses->add(piece); });
}

void TFExtraction::Button9Click()
{
    ExtractionRunning = false;
}

void TFExtraction::Button6Click()
{
    if (!SaveTextFileDialog1.execute())
        return;
    ui->ListBox1->saveToFile(SaveTextFileDialog1.fileName());
}
