#include "FExtraction_Unit.h"

#include "primitives/Clock.h"
#include "primitives/Errors.h"
#include "primitives/FileStream.h"
#include "primitives/LineReader.h"
#include "primitives/Numbers.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/Pump.h"
#include "toolkit/WindowLook.h"
#include "ui_FExtraction.h"

#include <cstring>

TFExtraction *FExtraction = nullptr;

bool ExtractionRunning = false;
QString ExtractionFileName;
qint64 ExtractionLineCount = 0;
qint64 ExtractionTicks = 0;
std::unique_ptr<LineReader> ExtractionLineReader;
std::unique_ptr<QStringList> ExtractionTokens;

namespace {

// The input/output failure of the count pass for a DOS-style error code.
QuorvaneError ioFailure(int code)
{
    switch (code) {
    case 2:
        return QuorvaneError(QStringLiteral("Fichier introuvable"));
    case 3:
        return QuorvaneError(QStringLiteral("Nom de fichier non valide"));
    case 4:
        return QuorvaneError(QStringLiteral("Trop de fichiers ouverts"));
    case 5:
        return QuorvaneError(QStringLiteral("Accès au fichier refusé"));
    default:
        return QuorvaneError(QStringLiteral("Erreur E/S %1").arg(code));
    }
}

bool holdsAt(QStringView line)
{
    const qsizetype at = line.indexOf(u'@');
    return at >= 0 && !line.first(at).contains(QChar(0));
}

} // namespace

qint64 CountLines(const QString &fileName)
{
    if (fileName.isEmpty() || fileName.size() > 259)
        throw ioFailure(3);
    int errorCode = 0;
    FileStream file(fileName, FileMode::OpenReadDenyWrite, errorCode);
    if (!file.isOpen())
        throw ioFailure(Errors::dosErrorCode(errorCode));
    constexpr qsizetype BufferSize = 128514;
    std::unique_ptr<char[]> buffer(new char[BufferSize]);
    qint64 count = 0;
    bool atLineStart = true;
    for (;;) {
        const qint64 n = file.read(buffer.get(), BufferSize);
        if (n < 0)
            throw ioFailure(Errors::dosErrorCode(file.lastError()));
        if (n == 0)
            break;
        const char *p = buffer.get();
        const char *end = p + n;
        while (p < end) {
            if (atLineStart && *p == '\x1A')
                return count; // Ctrl-Z at the start of a line ends the input
            atLineStart = false;
            const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            const char *stop = lf ? lf : end;
            const char *sub = static_cast<const char *>(std::memchr(p, '\x1A', size_t(stop - p)));
            if (sub)
                stop = sub;
            else if (!lf)
                break; // the line goes on in the next buffer
            ++count;
            atLineStart = true;
            p = stop + 1;
        }
    }
    if (!atLineStart)
        ++count;
    return count;
}

void SplitDelimited(QChar delimiter, const QString &text, QStringList *list)
{
    if (!list)
        throw QuorvaneError(QStringLiteral("Echec de l'assertion (FExtraction_Unit, ligne 74)"));
    list->clear();
    Q_UNUSED(delimiter); // a separator like every character from 1 to 32
    const qsizetype nul = text.indexOf(QChar(0));
    const QStringView s = QStringView(text).first(nul < 0 ? text.size() : nul);
    const qsizetype n = s.size();
    // One step passes over a following low surrogate and non-spacing marks (none of
    // which lies below U+0300, so most characters skip the category lookup).
    auto next = [&](qsizetype i) {
        ++i;
        while (i < n && s[i].unicode() >= 0x300 &&
               (s[i].isLowSurrogate() || s[i].category() == QChar::Mark_NonSpacing))
            ++i;
        return i;
    };
    auto isSeparator = [&](qsizetype i) { return s[i].unicode() >= 1 && s[i].unicode() <= 32; };
    qsizetype i = 0;
    while (i < n && isSeparator(i))
        i = next(i);
    while (i < n) {
        QString piece;
        if (s[i] == u'"') {
            ++i;
            while (i < n) {
                if (s[i] == u'"') {
                    if (i + 1 < n && s[i + 1] == u'"') {
                        piece += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                piece += s[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && !isSeparator(i))
                i = next(i);
            piece = s.sliced(start, i - start).toString();
        }
        list->append(piece);
        while (i < n && isSeparator(i))
            i = next(i);
    }
}

TFExtraction::TFExtraction(QWidget *parent)
    : QWidget(parent), ui(new Ui::TFExtraction), OpenDialog1(this, FileDialog::Open),
      SaveTextFileDialog1(this, FileDialog::Save)
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
    if (ui->Edit1->text() != m_lineField)
        ui->Edit1->setText(m_lineField);
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
    const double t1 = Clock::timeOfDay();
    const qint64 count = CountLines(OpenDialog1.fileName());
    const double t2 = Clock::timeOfDay();
    const QString line = QStringLiteral("Lines read = %1\r elapsed time = %2")
                             .arg(count)
                             .arg(Numbers::formatGeneral(t2 - t1));
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
        QString line; // reused: no allocation per line
        while (!ExtractionLineReader->EndOfStream() && ExtractionRunning) {
            ExtractionLineReader->ReadLine(line);
            rawLines->addLine(line);
            if (holdsAt(line)) {
                // The line field holds text up to a NUL, like an edit field.
                const qsizetype nul = line.indexOf(QChar(0));
                const QStringView shown = QStringView(line).first(nul < 0 ? line.size() : nul);
                m_lineField.resize(shown.size());
                std::copy(shown.begin(), shown.end(), m_lineField.begin());
                Button5Click();
            }
            if (++ExtractionLineCount % 1000 == 0) {
                Pump::pumpMessages();
                const QString total = ui->Edit3->text();
                const qint64 t = Numbers::StrToInt64(total);
                if (t == 0)
                    throw Errors::floatDivisionByZero();
                const double percentage = double(ExtractionLineCount) / double(t) * 100;
                appendLog(QStringLiteral("Lines Done : %1 / %2 Percentage  :%3%")
                              .arg(ExtractionLineCount)
                              .arg(total, Numbers::formatOneDecimal(percentage)));
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
    ExtractionTokens = std::make_unique<QStringList>();
    SplitDelimited(u' ', m_lineField, ExtractionTokens.get());
    for (const QString &piece : std::as_const(*ExtractionTokens))
        if (piece.contains(u'@'))
            ui->ListBox1->add(piece);
    ExtractionTokens.reset();
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
