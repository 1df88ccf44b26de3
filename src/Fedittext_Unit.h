#pragma once

#include "toolkit/FileDialog.h"

#include <QWidget>
#include <memory>

class LineReader;
namespace Ui {
class TFedittext;
}

// The Edit Text tool: loads a file into the memo, appends each of its lines with a prefix
// and a suffix, and saves the memo.
class TFedittext : public QWidget
{
    Q_OBJECT
  public:
    explicit TFedittext(QWidget *parent = nullptr);
    ~TFedittext() override;

    void Button4Click(); // Open
    void Button1Click(); // Start
    void Button5Click(); // Stop
    void Button6Click(); // Save

    Ui::TFedittext *ui;
    FileDialog OpenTextFileDialog1;
    FileDialog SaveTextFileDialog1;
};

extern TFedittext *Fedittext;

// Unit-level state of the line editor.
extern bool EditRunning;
extern QString EditFileName;
extern qint64 EditLineCount;
extern std::unique_ptr<LineReader> EditLineReader;
