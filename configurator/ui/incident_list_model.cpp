#include "incident_list_model.h"

namespace chronel {

bool IncidentListModel::setIncidents(const QList<Incident>& incidents)
{
    if (incidents == incidents_)
        return false;
    beginResetModel();
    incidents_ = incidents;
    endResetModel();
    return true;
}

int IncidentListModel::rowOf(qint64 id) const
{
    for (int row = 0; row < incidents_.size(); ++row)
        if (incidents_[row].id == id)
            return row;
    return -1;
}

int IncidentListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(incidents_.size());
}

int IncidentListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant IncidentListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= incidents_.size())
        return {};
    const Incident& incident = incidents_.at(index.row());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | (index.column() == Comments ? Qt::AlignRight : Qt::AlignLeft));
    if (role == Qt::ToolTipRole) {
        // Rich text of its own: a title a person typed is never taken for
        // markup.
        return QStringLiteral("<p>%1</p>").arg(incident.title.toHtmlEscaped());
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Title: return incident.title;
    case Period: return IncidentPeriodText(incident);
    case Modules: return IncidentModulesText(incident);
    case Author: return incident.author;
    case Created: return NoteTimeText(incident.created);
    case Comments: return incident.comments;
    default: return {};
    }
}

QVariant IncidentListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Title: return QStringLiteral("Title");
    case Period: return QStringLiteral("Period");
    case Modules: return QStringLiteral("Modules");
    case Author: return QStringLiteral("Recorded by");
    case Created: return QStringLiteral("Recorded");
    case Comments: return QStringLiteral("Comments");
    default: return QAbstractTableModel::headerData(section, orientation, role);
    }
}

} // namespace chronel
