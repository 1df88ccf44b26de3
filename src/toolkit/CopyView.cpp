#include "toolkit/CopyView.h"

#include "toolkit/Pump.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QLocale>

CopyView::CopyView(QLineEdit *status, QAbstractButton *startButton, const QList<QWidget *> &locked)
    : m_status(status), m_startButton(startButton), m_startText(startButton->text()),
      m_locked(locked)
{
    m_startButton->setText(QStringLiteral("Stop"));
    for (QWidget *widget : m_locked) {
        m_wasEnabled << widget->isEnabled();
        widget->setEnabled(false);
    }
}

CopyView::~CopyView()
{
    m_startButton->setText(m_startText);
    for (qsizetype i = 0; i < m_locked.size(); ++i)
        m_locked[i]->setEnabled(m_wasEnabled[i]);
    m_status->clear();
}

QString CopyView::progressText(const CopyStatus &status)
{
    const QLocale locale;
    const QString name = status.fileName.mid(NamePartStart(status.fileName));
    const int percent = status.total > 0 ? int(status.done * 100 / status.total) : 100;
    return QStringLiteral("Copying %1: %2 of %3 (%4 %), %5/s")
        .arg(name, locale.formattedDataSize(status.done), locale.formattedDataSize(status.total))
        .arg(qMin(percent, 100))
        .arg(locale.formattedDataSize(status.bytesPerSecond));
}

void CopyView::progress(const CopyStatus &status)
{
    m_status->setText(progressText(status));
    Pump::pumpMessages();
}
