#include "toolkit/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

UpDown::UpDown(QWidget *parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *button : {m_up, m_down}) {
        button->setArrowType(button == m_up ? Qt::UpArrow : Qt::DownArrow);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        layout->addWidget(button);
    }
    m_up->setAccessibleName(QStringLiteral("Up"));
    m_down->setAccessibleName(QStringLiteral("Down"));
    connect(m_up, &QToolButton::clicked, this, [this] { step(Up); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(Down); });
}

void UpDown::setAssociate(QLineEdit *field)
{
    m_field = field;
    field->installEventFilter(this);
    field->setText(QString::number(m_position));
}

void UpDown::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    m_position = qBound(minimum, m_position, maximum);
}

int UpDown::position() const
{
    // The field's number when it holds one in range, else the last value stepped to.
    bool ok = false;
    const int value = m_field ? m_field->text().trimmed().toInt(&ok) : 0;
    return ok ? qBound(m_minimum, value, m_maximum) : m_position;
}

void UpDown::step(Button button)
{
    const int current = position();
    const int next = qBound(m_minimum, current + (button == Up ? 1 : -1), m_maximum);
    m_position = next;
    if (next == current)
        return;
    if (m_field)
        m_field->setText(QString::number(next));
    emit clicked(button);
}

bool UpDown::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? Up : Down);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
