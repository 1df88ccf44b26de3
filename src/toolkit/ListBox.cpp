#include "toolkit/ListBox.h"

#include "primitives/Errors.h"
#include "primitives/TextFile.h"
#include "toolkit/Pump.h"

#include <QAbstractListModel>

// Items of a list box, held as a plain string list.
class LineListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_items.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return m_items.value(index.row());
        return {};
    }
    void append(QStringList &items)
    {
        beginInsertRows({}, int(m_items.size()), int(m_items.size() + items.size() - 1));
        m_items.append(std::move(items));
        endInsertRows();
        items.clear();
    }
    void clear()
    {
        beginResetModel();
        m_items.clear();
        endResetModel();
    }
    QStringList m_items;
};

ListBox::ListBox(QWidget *parent) : QListView(parent), m_model(new LineListModel(this))
{
    setModel(m_model);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_batchId = Pump::registerBatch([this] { flush(); });
}

ListBox::~ListBox() { Pump::unregisterBatch(m_batchId); }

void ListBox::add(const QString &item)
{
    if (count() == INT_MAX)
        throw Errors::cannotInsertLine();
    m_pending.append(item);
}

int ListBox::count() const { return int(m_model->m_items.size() + m_pending.size()); }

QString ListBox::item(int index) const
{
    const int shown = int(m_model->m_items.size());
    return index < shown ? m_model->m_items.value(index) : m_pending.value(index - shown);
}

QStringList ListBox::items() const { return m_model->m_items + m_pending; }

void ListBox::clear()
{
    m_pending.clear();
    m_model->clear();
}

void ListBox::flush()
{
    if (!m_pending.isEmpty())
        m_model->append(m_pending);
}

void ListBox::saveToFile(const QString &fileName) const
{
    saveTextFile(fileName, listText(items()), TextEncoding::None);
}
