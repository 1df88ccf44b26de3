#include "toolkit/ListBox.h"

#include "primitives/Errors.h"
#include "primitives/TextFile.h"
#include "toolkit/Accessibility.h"
#include "toolkit/ErrorDisplay.h"
#include "toolkit/Pump.h"
#include "toolkit/ScrollBars.h"

#include <QAccessibleWidget>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <mutex>

namespace {

// An item is drawn up to this many characters: no item is wider than the screen.
constexpr int MaxShownColumns = 2000;

// One item of a list box, as accessibility tools see it.
class ListItemAccessible : public QAccessibleInterface
{
  public:
    ListItemAccessible(ListBox *list, int row) : m_list(list), m_row(row) {}
    bool isValid() const override { return m_list && m_row < m_list->count(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_list);
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && isValid() ? m_list->itemGuarded(m_row) : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return {}; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.selectable = true;
        s.selected = isValid() && m_list->currentIndex() == m_row;
        return s;
    }

  private:
    QPointer<ListBox> m_list;
    int m_row;
};

// The list box as accessibility tools see it: a list whose children are its items.
class ListBoxAccessible : public QAccessibleWidget
{
  public:
    explicit ListBoxAccessible(ListBox *list) : QAccessibleWidget(list, QAccessible::List) {}
    ~ListBoxAccessible() override
    {
        for (auto id : std::as_const(m_children))
            QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override { return list()->count(); }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= list()->count())
            return nullptr;
        if (!m_children.contains(index)) {
            auto *item = new ListItemAccessible(list(), index);
            m_children.insert(index, QAccessible::registerAccessibleInterface(item));
        }
        return QAccessible::accessibleInterface(m_children.value(index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_children.cbegin(); it != m_children.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        return -1;
    }

  private:
    ListBox *list() const { return static_cast<ListBox *>(widget()); }
    mutable QHash<int, QAccessible::Id> m_children;
};

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("ListBox") && object && object->isWidgetType())
        return new ListBoxAccessible(static_cast<ListBox *>(object));
    return nullptr;
}

} // namespace

ListBox::ListBox(QWidget *parent) : LineBox(parent)
{
    static std::once_flag registered;
    std::call_once(registered, [] { QAccessible::installFactory(accessibleFactory); });
}

void ListBox::fontChanged()
{
    updateScrollBars();
    viewport()->update();
}

Searchable::Place ListBox::searchStart(bool backward) const
{
    // Forward from the item after the current one; backward from the current one's start,
    // or from the end when there is none.
    if (backward)
        return {m_current < 0 ? count() : m_current, 0};
    return {m_current + 1, 0};
}

ListBox::~ListBox() = default;

void ListBox::add(QStringView item)
{
    makeRoomForOne();
    m_items.append(item);
}

void ListBox::addSourceItem(QStringView item, const std::shared_ptr<const SourceFile> &file,
                            const SourcePosition &reader, LineStore::ItemsOfLine itemsOf)
{
    makeRoomForOne();
    if (item.size() <= LineStore::ChunkChars / 2)
        m_items.appendFromSource(item, file, reader, itemsOf);
    else
        m_items.append(item);
}

void ListBox::makeRoomForOne()
{
    if (m_items.count() >= INT_MAX)
        throw Errors::cannotInsertLine();
    if (m_accessibleFirstAdded < 0)
        m_accessibleFirstAdded = count(); // told to accessibility tools at a flush
}

QString ListBox::itemGuarded(int index) const
{
    QString text;
    readGuarded([&] { text = item(index); });
    return text;
}

QStringList ListBox::items() const
{
    QStringList all;
    all.reserve(count());
    for (int i = 0; i < count(); ++i)
        all << item(i);
    return all;
}

void ListBox::clear()
{
    forgetFailure();
    m_items.clear();
    m_current = -1;
    m_viewFilled = false;
    m_accessibleFirstAdded = -1;
    verticalScrollBar()->setValue(0);
    flush();
    if (Accessibility::listening()) {
        QAccessibleTableModelChangeEvent reset(this, QAccessibleTableModelChangeEvent::ModelReset);
        Accessibility::send(&reset);
    }
}

void ListBox::setCurrentIndex(int index)
{
    if (count() == 0)
        return;
    m_current = qBound(0, index, count() - 1);
    QScrollBar *v = verticalScrollBar();
    if (m_current < v->value())
        v->setValue(m_current);
    else if (m_current >= v->value() + pageRows())
        v->setValue(m_current - pageRows() + 1);
    viewport()->update();
    QAccessibleInterface *list =
        Accessibility::listening() ? QAccessible::queryAccessibleInterface(this) : nullptr;
    if (QAccessibleInterface *item = list ? list->child(m_current) : nullptr) {
        QAccessibleEvent focus(item, QAccessible::Focus);
        Accessibility::send(&focus);
        QAccessibleEvent selection(item, QAccessible::Selection);
        Accessibility::send(&selection);
    }
}

void ListBox::flush()
{
    if (m_accessibleFirstAdded >= 0) {
        if (Accessibility::listening()) {
            QAccessibleTableModelChangeEvent inserted(
                this, QAccessibleTableModelChangeEvent::RowsInserted);
            inserted.setFirstRow(int(m_accessibleFirstAdded));
            inserted.setLastRow(count() - 1);
            Accessibility::send(&inserted);
        }
        m_accessibleFirstAdded = -1;
    }
    updateScrollBars();
    if (!m_viewFilled)
        viewport()->update();
}

void ListBox::saveToFile(const QString &fileName) const
{
    letGoOf(fileName);
    saveTextFile(fileName, TextEncoding::None,
                 [this](const TextWriter &write) { m_items.write(write, true); });
}

int ListBox::pageRows() const
{
    return qMax(1, viewport()->height() / itemHeight());
}

void ListBox::updateScrollBars()
{
    QScrollBar *v = verticalScrollBar();
    const int maximum = qMax(0, count() - pageRows());
    if (v->maximum() != maximum)
        v->setRange(0, maximum);
    if (v->pageStep() != pageRows())
        v->setPageStep(pageRows());
}

void ListBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ListBox::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int first = verticalScrollBar()->value();
    const int width = viewport()->width();
    const QStringList shown = m_items.lines(first, pageRows() + 1, MaxShownColumns);
    int y = 0;
    for (int row = first; row < first + shown.size() && y < viewport()->height();
         ++row, y += itemHeight()) {
        const QRect rect(0, y, width, itemHeight());
        if (row == m_current) {
            painter.fillRect(rect, palette().highlight());
            painter.setPen(palette().highlightedText().color());
        } else {
            painter.setPen(palette().text().color());
        }
        // On the baseline that centres the line's room in the row, unclipped by the row.
        painter.drawText(QPoint(2, y + (rect.height() - m_room.height()) / 2 + m_room.baseline()),
                         shown[row - first]);
    }
    m_viewFilled = y >= viewport()->height();
}

void ListBox::copy() const
{
    if (m_current >= 0 && m_current < count())
        QGuiApplication::clipboard()->setText(item(m_current));
}

void ListBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(tr("&Copy"), this, &ListBox::copy)->setEnabled(m_current >= 0);
    menu.exec(event->globalPos());
}

void ListBox::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
        setCurrentIndex(m_current - 1);
        break;
    case Qt::Key_Down:
        setCurrentIndex(m_current + 1);
        break;
    case Qt::Key_PageUp:
        setCurrentIndex(m_current - pageRows());
        break;
    case Qt::Key_PageDown:
        setCurrentIndex(m_current + pageRows());
        break;
    case Qt::Key_Home:
        setCurrentIndex(0);
        break;
    case Qt::Key_End:
        setCurrentIndex(count() - 1);
        break;
    default:
        event->ignore();
    }
}

void ListBox::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return;
    const int row = verticalScrollBar()->value() + int(event->position().y()) / itemHeight();
    if (row < count())
        setCurrentIndex(row);
}
