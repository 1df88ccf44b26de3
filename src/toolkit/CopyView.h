#pragma once

#include "rules/Copying.h"

#include <QList>
#include <QString>

class QAbstractButton;
class QLineEdit;
class QWidget;

// A long copy as a window shows it while it runs: the progress in a status field and
// messages pumped at each report; the button that started it reads "Stop" (a click on it
// asks the job to stop) and the controls that would change the copy's input are disabled.
// All comes back when the view ends.
class CopyView : public CopySink
{
  public:
    CopyView(QLineEdit *status, QAbstractButton *startButton, const QList<QWidget *> &locked);
    ~CopyView() override;
    CopyView(const CopyView &) = delete;
    CopyView &operator=(const CopyView &) = delete;
    void progress(const CopyStatus &status) override;

    // The progress line: the file's name, the bytes done of the total, the share and the speed.
    static QString progressText(const CopyStatus &status);

  private:
    QLineEdit *m_status;
    QAbstractButton *m_startButton;
    QString m_startText;
    QList<QWidget *> m_locked;
    QList<bool> m_wasEnabled; // as each was before the copy
};
