#include "Fedittext_Unit.h"

#include "ApplicationWindows.h"

#include "rules/Editing.h"

#include "primitives/LineReader.h"
#include "primitives/SourceFile.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/FileDrop.h"
#include "toolkit/Pump.h"
#include "toolkit/WindowLook.h"
#include "ui_Fedittext.h"

TFedittext *const &Fedittext = applicationWindows().edit;

TFedittext::TFedittext(QWidget *parent)
    : QWidget(parent), ui(new Ui::TFedittext), OpenTextFileDialog1(this, FileDialog::OpenText),
      SaveTextFileDialog1(this, FileDialog::SaveText)
{
    ui->setupUi(this);
    WindowLook::apply(this, false);
    using ErrorDisplay::connectClick;
    connectClick(ui->Button4, [this] { Button4Click(); });
    connectClick(ui->Button1, [this] { Button1Click(); });
    connectClick(ui->Button5, [this] { Button5Click(); });
    connectClick(ui->Button6, [this] { Button6Click(); });
    // A file dropped on the window is opened as if chosen in Open's dialog.
    FileDrop::install(
        this, [this] { return !Job.EditLineReader; },
        [this](const QStringList &files) {
            OpenTextFileDialog1.answerNext(files.first());
            Button4Click();
        });
}

TFedittext::~TFedittext()
{
    delete ui;
}

void TFedittext::Button4Click()
{
    Job.EditRunning = true;
    ui->Memo1->clear();
    if (!OpenTextFileDialog1.execute())
        return;
    QString failure;
    try {
        ui->Memo1->loadFromFile(OpenTextFileDialog1.fileName());
    } catch (...) {
        failure = ErrorDisplay::currentExceptionMessage();
    }
    ui->Edit3->setText(OpenTextFileDialog1.fileName());
    if (!failure.isEmpty())
        ErrorDisplay::showError(failure);
}

void TFedittext::Button1Click()
{
    if (Job.EditLineReader)
        return; // one run at a time: Start during a run's pump is ignored
    ui->Edit4->clear();
    if (ui->Edit3->text().isEmpty()) {
        ui->Edit4->setText(QStringLiteral("Click Open File First "));
        return;
    }
    // Each line into the memo; the fields can only change while messages are pumped, so
    // they are read again after every pump, which is reading them for every line.
    // The memo refers to the file's bytes (kept open for it) instead of copying its lines,
    // where the file can be opened once more.
    class MemoLines : public EditSink
    {
      public:
        MemoLines(Ui::TFedittext *ui, const EditJob &job) : m_ui(ui), m_job(job) {}
        void line(QStringView decorated) override { m_ui->Memo1->addLine(decorated); }
        void decoratedLine(QStringView prefix, QStringView line, QStringView suffix) override
        {
            if (!m_sourceOpened) {
                m_sourceOpened = true;
                m_source = SourceFile::open(m_job.EditFileName);
            }
            if (m_source)
                m_ui->Memo1->addSourceLine(prefix, line, suffix, m_source, *m_job.EditLineReader);
            else
                m_ui->Memo1->addLine(prefix, line, suffix);
        }
        void progressPoint(QString &prefix, QString &suffix) override
        {
            Pump::pumpMessages();
            prefix = m_ui->Edit1->text();
            suffix = m_ui->Edit2->text();
        }

      private:
        Ui::TFedittext *m_ui;
        const EditJob &m_job;
        bool m_sourceOpened = false;
        std::shared_ptr<const SourceFile> m_source;
    } memoLines(ui, Job);
    Job.start(OpenTextFileDialog1.fileName(), ui->Edit1->text(), ui->Edit2->text(), memoLines);
}

void TFedittext::Button5Click()
{
    Job.EditRunning = false;
}

void TFedittext::Button6Click()
{
    if (!SaveTextFileDialog1.execute())
        return;
    ui->Memo1->saveToFile(SaveTextFileDialog1.fileName());
}
