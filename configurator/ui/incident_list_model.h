#pragma once
// The Site Journal window's list of incidents, newest first: title, period,
// modules, who recorded it and when, and how many comments it has. A
// reading that shows the same leaves the list alone, so what is selected in
// it stays selected while the window follows the journal.
//
// No widgets: tested without a display.
#include "journal_notes.h"

#include <QAbstractTableModel>

namespace chronel {

class IncidentListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Title, Period, Modules, Author, Created, Comments, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces the incidents; false when they were the same already.
    bool setIncidents(const QList<Incident>& incidents);

    const QList<Incident>& incidents() const { return incidents_; }
    const Incident& incidentAt(int row) const { return incidents_.at(row); }
    // The row of incident `id`, −1 when it is not listed.
    int rowOf(qint64 id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<Incident> incidents_;
};

} // namespace chronel
