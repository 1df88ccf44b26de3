#pragma once

#include "rules/Editing.h"
#include "toolkit/FileDialog.h"

#include <QWidget>
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
    EditJob Job; // Start's run and its values
};

extern TFedittext *const &Fedittext;
