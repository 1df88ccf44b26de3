#pragma once

#include "rules/Joining.h"

#include "toolkit/FileDialog.h"

#include <QWidget>

class FileStream;
namespace Ui {
class TFjointure;
}

// The Join Files tool: writes every listed file, each followed by its numbered companions,
// into one destination file.
class TFjointure : public QWidget
{
    Q_OBJECT
  public:
    explicit TFjointure(QWidget *parent = nullptr);
    ~TFjointure() override;

    void Button1Click(); // Add File
    void Button3Click(); // Select Destination
    void Button2Click(); // Join Files

    Ui::TFjointure *ui;
    FileDialog OpenTextFileDialog1;
    JoinJob Job; // the join that runs, its progress and its stop

  protected:
    void closeEvent(QCloseEvent *event) override;
};

extern TFjointure *const &Fjointure;

// Clears the destination field, the status field and the source list.
void ResetJoinWindow(TFjointure *window);
