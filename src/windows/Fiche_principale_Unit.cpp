#include "Fiche_principale_Unit.h"

#include "FExtraction_Unit.h"
#include "Fcoupure_Unit.h"
#include "Fedittext_Unit.h"
#include "Fjointure_Unit.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/WindowLook.h"
#include "ui_Fiche_principale.h"

#include <QCloseEvent>
#include <QCoreApplication>

TFiche_principale *Fiche_principale = nullptr;

TFiche_principale::TFiche_principale(QWidget *parent)
    : QWidget(parent), ui(new Ui::TFiche_principale)
{
    ui->setupUi(this);
    WindowLook::apply(this, true);
    ErrorDisplay::connectClick(ui->SpeedButton1, [this] { SpeedButton1Click(); });
    ErrorDisplay::connectClick(ui->SpeedButton2, [this] { SpeedButton2Click(); });
    ErrorDisplay::connectClick(ui->SpeedButton3, [this] { SpeedButton3Click(); });
    ErrorDisplay::connectClick(ui->SpeedButton4, [this] { SpeedButton4Click(); });
}

TFiche_principale::~TFiche_principale()
{
    delete ui;
}

void TFiche_principale::SpeedButton1Click()
{
    WindowLook::show(FExtraction);
}

void TFiche_principale::SpeedButton2Click()
{
    ResetJoinWindow(Fjointure);
    WindowLook::show(Fjointure);
}

void TFiche_principale::SpeedButton3Click()
{
    WindowLook::show(Fcoupure);
}

void TFiche_principale::SpeedButton4Click()
{
    WindowLook::show(Fedittext);
}

// Closing the launcher ends the application once control is back in the message loop,
// also when a tool's loop is pumping messages now.
void TFiche_principale::closeEvent(QCloseEvent *event)
{
    event->accept();
    QCoreApplication::exit(0);
}

void CreateApplicationWindows()
{
    Q_INIT_RESOURCE(resources); // the pictures live in a static library
    Fiche_principale = new TFiche_principale;
    FExtraction = new TFExtraction(Fiche_principale);
    Fjointure = new TFjointure(Fiche_principale);
    Fcoupure = new TFcoupure(Fiche_principale);
    Fedittext = new TFedittext(Fiche_principale);
}

void DestroyApplicationWindows()
{
    delete Fiche_principale; // owns the tool windows
    Fiche_principale = nullptr;
    FExtraction = nullptr;
    Fjointure = nullptr;
    Fcoupure = nullptr;
    Fedittext = nullptr;
}
