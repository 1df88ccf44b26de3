#pragma once

#include "rules/Cutting.h"

#include "toolkit/FileDialog.h"

#include <QStringList>
#include <QWidget>

namespace Ui {
class TFcoupure;
}

// The Cut Files tool: plans named pieces of equal size and writes them.
class TFcoupure : public QWidget
{
    Q_OBJECT
  public:
    explicit TFcoupure(QWidget *parent = nullptr);
    ~TFcoupure() override;

    void Button4Click(); // Select File
    void UpDown1Click(); // spinner
    void Button1Click(); // ok
    void Button2Click(); // Cut

    Ui::TFcoupure *ui;
    FileDialog OpenDialog1;
    FileDialog OpenTextFileDialog1; // part of the layout, never shown
    CutJob Job;                     // the selection, the plan and the cut

  protected:
    void closeEvent(QCloseEvent *event) override;
};

extern TFcoupure *const &Fcoupure;
