#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TFiche_principale;
}

// The launcher: a picture of the four tools with a hotspot button over each row.
class TFiche_principale : public QWidget
{
    Q_OBJECT
  public:
    explicit TFiche_principale(QWidget *parent = nullptr);
    ~TFiche_principale() override;

    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();

    Ui::TFiche_principale *ui;

  protected:
    void closeEvent(QCloseEvent *event) override;
};

extern TFiche_principale *const &Fiche_principale;

// Start-up: creates the five windows once, in the order launcher, extraction, join, cut,
// line editor; the launcher owns the others, which stay hidden until shown.
void CreateApplicationWindows();
// Destroys them again (the end of the process, or of a test).
void DestroyApplicationWindows();
