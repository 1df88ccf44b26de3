#include "Fiche_principale_Unit.h"

#include "ApplicationWindows.h"

#include "FExtraction_Unit.h"
#include "Fcoupure_Unit.h"
#include "Fedittext_Unit.h"
#include "Fjointure_Unit.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/WindowLook.h"
#include "ui_Fiche_principale.h"

#include <QCloseEvent>
#include <QCoreApplication>

TFiche_principale *const &Fiche_principale = applicationWindows().launcher;

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
// also when a tool's loop is pumping messages now; a join or cut running stops first.
void TFiche_principale::closeEvent(QCloseEvent *event)
{
    event->accept();
    Fjointure->Job.stop();
    Fcoupure->Job.stop();
    QCoreApplication::exit(0);
}

namespace {
ApplicationWindows &windowsStorage()
{
    static ApplicationWindows windows;
    return windows;
}
} // namespace

const ApplicationWindows &applicationWindows()
{
    return windowsStorage();
}

void CreateApplicationWindows()
{
    Q_INIT_RESOURCE(resources); // the pictures live in a static library
    ApplicationWindows &windows = windowsStorage();
    windows.launcher = new TFiche_principale;
    windows.extraction = new TFExtraction(windows.launcher);
    windows.join = new TFjointure(windows.launcher);
    windows.cut = new TFcoupure(windows.launcher);
    windows.edit = new TFedittext(windows.launcher);
}

void DestroyApplicationWindows()
{
    ApplicationWindows &windows = windowsStorage();
    delete windows.launcher; // owns the tool windows
    windows = {};
}
