#pragma once

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
};

extern TFcoupure *Fcoupure;

// The extension, dot included, of the file last confirmed in Select File.
extern QString SourceExtension;
// The names of the pieces of the latest plan, piece b at index b - 1.
extern QStringList PieceNames;

// The largest plan "ok" accepts.
constexpr int MaxPieces = 10000;

// Writes the planned pieces of the source, piece b holding the bytes from (b - 1) x size;
// the last planned piece runs on to the end of the source.
void CutFileIntoPieces(const QString &sourceName, qint64 pieceSize);
