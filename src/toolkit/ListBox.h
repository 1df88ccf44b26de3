#pragma once

#include <QListView>
#include <QStringList>

class LineListModel;

// A list box of text items. Items added in code are collected and handed to the view in
// one batch at the next pump (or when the handler ends); count and items include them.
class ListBox : public QListView
{
    Q_OBJECT
public:
    explicit ListBox(QWidget *parent = nullptr);
    ~ListBox() override;

    void add(const QString &item);
    int count() const;
    QString item(int index) const;
    QStringList items() const;
    void clear();
    void flush();
    // Whole-file text save: every item followed by CR LF, in the system code page.
    void saveToFile(const QString &fileName) const;

private:
    LineListModel *m_model;
    QStringList m_pending;
    int m_batchId;
};
