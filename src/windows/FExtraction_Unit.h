#pragma once

#include "rules/Extraction.h"
#include "toolkit/FileDialog.h"

#include <QWidget>

namespace Ui {
class TFExtraction;
}

// The Extract Emails tool. Open runs three hidden steps: the size report, the timed line
// count and the address scan, which the window shows as its job reports them.
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
    ExtractionJob Job; // the scan and its values, from one scan to the next

  private:
    class ScanView;
    void appendLog(const QString &line);
    void syncLineField();

    bool m_dialogConfirmed = false;
    // The raw-line box's line that the hidden line field shows at the next pump, or -1.
    qsizetype m_lineFieldLine = -1;
    int m_batchId;
};

extern TFExtraction *const &FExtraction;
