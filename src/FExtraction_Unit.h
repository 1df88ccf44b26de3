#pragma once

#include "rules/Extraction.h"
#include "toolkit/FileDialog.h"

#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>

class LineReader;
namespace Ui {
class TFExtraction;
}

// The Extract Emails tool. Open runs three hidden steps: the size report, the timed line
// count and the address scan; the scan hands each line holding "@" to the token splitter.
class TFExtraction : public QWidget
{
    Q_OBJECT
  public:
    explicit TFExtraction(QWidget *parent = nullptr);
    ~TFExtraction() override;

    void Button4Click();  // Open
    void Button10Click(); // file size report
    void Button7Click();  // line count pass
    void Button8Click();  // address scan
    void Button5Click();  // token splitter step
    void Button9Click();  // Stop
    void Button6Click();  // Save Emails
    void FormCreate();

    Ui::TFExtraction *ui;
    FileDialog OpenDialog1;
    FileDialog SaveTextFileDialog1;

  private:
    void appendLog(const QString &line);
    void syncLineField();

    bool m_dialogConfirmed = false;
    // The raw-line box's line that the hidden line field shows at the next pump, or -1.
    qsizetype m_lineFieldLine = -1;
    // During a scan, the line handed to the splitter step in place of the field's text.
    std::optional<QStringView> m_handedLine;
    int m_batchId;
};

extern TFExtraction *FExtraction;

// Unit-level state of the extraction tool.
extern bool ExtractionRunning;
extern QString ExtractionFileName;
extern qint64 ExtractionLineCount;
extern qint64 ExtractionTicks;
extern std::unique_ptr<LineReader> ExtractionLineReader;

// Empties list and fills it with the pieces of text: separators are the characters 1 to
// 32 (delimiter among them), a piece starting with a double quote runs to the closing
// one, the text ends at its first NUL. A missing list is an assertion failure.
void SplitDelimited(QChar delimiter, const QString &text, QStringList *list);
