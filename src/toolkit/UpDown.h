#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// An up-down spinner bound to an edit field: its value is the number the field shows, each
// step writes the new value there, and clicked is emitted only when the value changed.
// The Up and Down arrow keys in the field step it too.
class UpDown : public QWidget
{
    Q_OBJECT
  public:
    enum Button
    {
        Up,
        Down
    };
    explicit UpDown(QWidget *parent = nullptr);

    void setAssociate(QLineEdit *field);
    void setRange(int minimum, int maximum);
    int position() const;
    void step(Button button);

  signals:
    void clicked(UpDown::Button button);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QToolButton *m_up;
    QToolButton *m_down;
    QLineEdit *m_field = nullptr;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_position = 0;
};
