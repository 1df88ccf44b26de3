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

bool ExtractionRunning = false;
QString ExtractionFileName;
qint64 ExtractionLineCount = 0;
qint64 ExtractionTicks = 0;
std::unique_ptr<LineReader> ExtractionLineReader;

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

// The text up to its first NUL: all that an edit field, the "@" test and the splitter see.
QStringView upToNul(QStringView text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.first(nul);
}

bool isSeparator(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

// A low surrogate or a non-spacing mark, which a step passes over together with the
// character before it (none of them lies below U+0300, so most characters skip the
// category lookup).
bool followsInStep(QChar c)
{
    return c.unicode() >= 0x300 && (c.isLowSurrogate() || c.category() == QChar::Mark_NonSpacing);
}

// Hands every piece of s to take, in order, by the splitting rules of SplitDelimited (s
// holds no NUL). An unquoted piece is a view into s; a quoted one is built in a string of
// its own, valid during the call.
template <typename Take> void forEachPiece(QStringView s, Take take)
{
    const qsizetype n = s.size();
    auto next = [&](qsizetype i) {
        ++i;
        while (i < n && followsInStep(s[i]))
            ++i;
        return i;
    };
    QString quoted;
    qsizetype i = 0;
    while (i < n && isSeparator(s[i]))
        i = next(i);
    while (i < n) {
        if (s[i] == u'"') {
            quoted.resize(0);
            ++i;
            while (i < n) {
                if (s[i] == u'"') {
                    if (i + 1 < n && s[i + 1] == u'"') {
                        quoted += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                quoted += s[i++];
            }
            take(QStringView(quoted));
        } else {
            const qsizetype start = i;
            while (i < n && !isSeparator(s[i]))
                i = next(i);
            take(s.sliced(start, i - start));
        }
        while (i < n && isSeparator(s[i]))
            i = next(i);
    }
}

// Hands every piece of s that holds an "@" to take, in order (s holds no NUL). Without a
// double quote the pieces are found from each "@" outwards, so the pieces around them
// cost nothing: a piece then starts after a separator and the low surrogates and marks
// that follow it (or at the start of s), and ends at the next separator.
template <typename Take> void forEachAddressPiece(QStringView s, Take take)
{
    if (s.contains(u'"')) {
        forEachPiece(s, [&](QStringView piece) {
            if (piece.contains(u'@'))
                take(piece);
        });
        return;
    }
    const qsizetype n = s.size();
    for (qsizetype at = s.indexOf(u'@'); at >= 0; at = s.indexOf(u'@', at)) {
        qsizetype start = at;
        while (start > 0 && !isSeparator(s[start - 1]))
            --start;
        if (start > 0)
            while (followsInStep(s[start]))
                ++start;
        qsizetype end = at + 1;
        while (end < n && !isSeparator(s[end]))
            ++end;
        take(s.sliced(start, end - start));
        at = end;
    }
}

} // namespace

qint64 CountLines(const QString &fileName, double *elapsedDays)
{
    if (fileName.isEmpty() || fileName.size() > 259)
        throw ioFailure(3);
    int errorCode = 0;
    FileStream file(fileName, FileMode::OpenReadDenyWrite, errorCode);
    if (!file.isOpen())
        throw ioFailure(Errors::dosErrorCode(errorCode));
    const double t1 = Clock::timeOfDay(); // the open is not timed, nor the close
    constexpr qsizetype BufferSize = 128514;
    std::unique_ptr<char[]> buffer(new char[BufferSize]);
    auto count = [&] {
        qint64 lines = 0;
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
                    return lines; // Ctrl-Z at the start of a line ends the input
                atLineStart = false;
                const char *lf = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
                const char *stop = lf ? lf : end;
                const char *sub =
                    static_cast<const char *>(std::memchr(p, '\x1A', size_t(stop - p)));
                if (sub)
                    stop = sub;
                else if (!lf)
                    break; // the line goes on in the next buffer
                ++lines;
                atLineStart = true;
                p = stop + 1;
            }
        }
        return atLineStart ? lines : lines + 1;
    };
    const qint64 lines = count();
    if (elapsedDays)
        *elapsedDays = Clock::timeOfDay() - t1;
    return lines;
}

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
                m_lineHanded = true;
                Button5Click();
                m_lineHanded = false;
            }
            if (++ExtractionLineCount % 1000 == 0) {
                syncLineField();
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
    // During a scan the line is handed in place; otherwise it is the line field's text.
    const QString fieldText = m_lineHanded ? QString() : ui->Edit1->text();
    const QStringView field = m_lineHanded ? m_handedLine : upToNul(fieldText);
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
