#pragma once
// The site journal's rows for a table view: a bounded page of events held in
// memory, sorted by any column (module time by default), with rows that
// arrive later put in their place. A million-row journal is never held:
// beyond maxRows the rows earliest in module time drop out.
#include "journal/journal_event.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>

namespace chronel {

class JournalTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Module, Name, ModuleTime, Point, Description, State, Text, Quality, Received, ColumnCount };
    static constexpr int DefaultMaxRows = 20000;

    explicit JournalTableModel(int maxRows = DefaultMaxRows, QObject* parent = nullptr);

    // Replaces the rows (the newest of them when there are more than
    // maxRows), in the current order.
    void setRows(QList<JournalEvent> rows);
    // Adds the rows not held yet (by id), each where the order puts it;
    // returns how many were added.
    int addRows(const QList<JournalEvent>& rows);

    const JournalEvent& eventAt(int row) const { return rows_.at(row); }
    const QList<JournalEvent>& events() const { return rows_; }
    int maxRows() const { return maxRows_; }
    // Whether rows dropped out at the limit since the last setRows().
    bool droppedRows() const { return dropped_; }
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    bool before(const JournalEvent& a, const JournalEvent& b) const;
    void trim();

    QList<JournalEvent> rows_;
    QSet<qint64> ids_;
    int maxRows_;
    bool dropped_ = false;
    int sortColumn_ = ModuleTime;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

} // namespace chronel
