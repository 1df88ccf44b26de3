#include "toolkit/FindBar.h"

#include "toolkit/ErrorDisplay.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>

FindBar::FindBar(QAbstractScrollArea *box, Searchable &searchable)
    : QWidget(box), m_box(box), m_viewport(box->viewport()), m_searchable(searchable),
      m_label(new QLabel(this)), m_field(new QLineEdit(this)),
      m_matchCase(new QCheckBox(QStringLiteral("Match case"), this)), m_status(new QLabel(this))
{
    setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(4);
    layout->addWidget(m_label);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_matchCase);
    layout->addWidget(m_status, 1);
    m_label->setBuddy(m_field);
    m_status->setAccessibleName(QStringLiteral("Find status"));
    m_field->installEventFilter(this);
    box->installEventFilter(this);
    m_viewport->installEventFilter(this);
    hide();

    auto shortcut = [&](const QKeySequence &keys, auto action) {
        auto *s = new QShortcut(keys, box, action);
        s->setContext(Qt::WidgetWithChildrenShortcut);
    };
    shortcut(QKeySequence::Find, [this] { openFind(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_G), [this] { openGoToLine(); });
    shortcut(QKeySequence(Qt::Key_F3), [this] {
        if (isHidden() || m_goToLine)
            openFind();
        if (!m_field->text().isEmpty())
            find(false);
    });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] {
        if (isHidden() || m_goToLine)
            openFind();
        if (!m_field->text().isEmpty())
            find(true);
    });
    connect(m_field, &QLineEdit::textEdited, this, [this] { stopSearch(); });
    m_slices.setSingleShot(true);
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, [this] { runSlice(); });
}

FindBar::~FindBar() = default;

void FindBar::open(bool goToLine)
{
    if (goToLine != m_goToLine || isHidden()) {
        stopSearch();
        setStatus({});
        if (goToLine != m_goToLine)
            m_field->clear();
    }
    m_goToLine = goToLine;
    m_label->setText(goToLine ? QStringLiteral("&Line:") : QStringLiteral("&Find:"));
    m_field->setAccessibleName(goToLine ? QStringLiteral("Go to line") : QStringLiteral("Find"));
    m_field->setPlaceholderText(
        goToLine ? QStringLiteral("1 to %1, Enter goes").arg(m_searchable.searchedLines().count())
                 : QStringLiteral("Enter or F3: next, Shift+F3: previous"));
    m_matchCase->setVisible(!goToLine);
    if (isHidden()) {
        m_searchable.setBottomMargin(sizeHint().height());
        show();
        place();
    }
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBar::openFind()
{
    open(false);
}

void FindBar::openGoToLine()
{
    open(true);
}

void FindBar::closeBar()
{
    stopSearch();
    hide();
    m_searchable.setBottomMargin(0);
    m_box->setFocus(Qt::OtherFocusReason);
}

void FindBar::place()
{
    const QRect viewport = m_viewport->geometry();
    setGeometry(viewport.left(), viewport.bottom() + 1, viewport.width(), sizeHint().height());
}

QString FindBar::status() const
{
    return m_status->text();
}

void FindBar::setStatus(const QString &text)
{
    m_status->setText(text);
}

void FindBar::find(bool backward)
{
    stopSearch();
    const Searchable::Place from = m_searchable.searchStart(backward);
    m_backward = backward;
    m_search = std::make_unique<TextSearch>(m_searchable.searchedLines(), m_field->text(),
                                            m_matchCase->isChecked() ? Qt::CaseSensitive
                                                                     : Qt::CaseInsensitive,
                                            backward, from.line, from.column);
    runSlice();
}

void FindBar::runSlice()
{
    if (!m_search)
        return;
    // A failure to read the lines ends the search and is shown once the slice is over.
    TextSearch::State state = TextSearch::State::NotFound;
    QString failure;
    if (!ErrorDisplay::runInView(failure, [&] { state = m_search->run(SliceMilliseconds); })) {
        m_search.reset();
        setStatus(QStringLiteral("Search failed"));
        return;
    }
    switch (state) {
    case TextSearch::State::Searching:
        setStatus(
            QStringLiteral("Searching… %1 % (Esc stops)").arg(int(m_search->progress() * 100)));
        m_slices.start();
        return;
    case TextSearch::State::Found:
        m_searchable.showMatch(m_search->match());
        setStatus(!m_search->wrapped() ? QString()
                  : m_backward         ? QStringLiteral("Went round to the end")
                                       : QStringLiteral("Went round to the start"));
        break;
    case TextSearch::State::NotFound:
        setStatus(m_field->text().isEmpty() ? QString() : QStringLiteral("No match"));
        break;
    }
    m_search.reset();
}

void FindBar::stopSearch()
{
    m_slices.stop();
    if (m_search)
        setStatus(QStringLiteral("Stopped"));
    m_search.reset();
}

void FindBar::goToLine()
{
    bool ok = false;
    const qsizetype line = m_field->text().trimmed().toLongLong(&ok);
    const qsizetype count = m_searchable.searchedLines().count();
    if (!ok || line < 1 || line > count) {
        setStatus(QStringLiteral("No line %1: the lines are 1 to %2")
                      .arg(m_field->text().trimmed())
                      .arg(count));
        return;
    }
    setStatus({});
    m_searchable.showLine(line - 1);
}

void FindBar::keyPressEvent(QKeyEvent *event)
{
    event->accept(); // keys the field leaves are not the box's to handle
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            if (isSearching())
                stopSearch();
            else
                closeBar();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (m_goToLine)
                goToLine();
            else
                find(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    // Only pointers are compared here: the box may be in its destructor already.
    if ((watched == m_box || watched == m_viewport) && isVisible() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        place();
    return QWidget::eventFilter(watched, event);
}
