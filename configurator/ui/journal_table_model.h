#pragma once
// The site journal's rows for a table view: a bounded page of events held in
// memory, sorted by any column (module time by default), with rows that
// arrive later put in their place. A million-row journal is never held:
// beyond maxRows the rows earliest in module time drop out.
//
// The columns are those journal/journal_columns.h gives a title, in its
// order; each shows its value as the CSV export writes it, but for a module
// time with a space for its T, the event line with the row's marks after
// it ("  [malformed, chattering, no line]"), as the text format writes it
// (chatter is found among the rows held, journal/chatter.h, its default
// limits), and the clock's words led by what makes it doubtful ("[clock not
// synchronised]  internal clock, good"), in a colour of their own and with
// the doubt icon the window gives.
//
// A row that engineers commented on in the web view says how many comments
// it has after its line ("  [2 comments]"), with the comment icon the window
// gives; its tooltip lists them, author, time and text.
#include "journal/journal_columns.h"
#include "journal/journal_event.h"
#include "journal/journal_incidents.h"
#include "journal/journal_order.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QSet>

#include <string_view>

namespace chronel {

// The position of journal_events' column `name` among the table's; a name
// the table does not show fails the build.
consteval int JournalTableColumnOf(std::string_view name)
{
    int position = 0;
    for (const JournalColumn& column : JournalColumns) {
        if (column.title == nullptr)
            continue;
        if (name == column.name)
            return position;
        ++position;
    }
    throw "not a column of the window's table";
}

class JournalTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The columns the window's code names.
    static constexpr int Module = JournalTableColumnOf("module");
    static constexpr int Name = JournalTableColumnOf("module_name");
    static constexpr int ModuleTime = JournalTableColumnOf("module_time");
    static constexpr int Point = JournalTableColumnOf("point");
    static constexpr int Description = JournalTableColumnOf("point_description");
    static constexpr int State = JournalTableColumnOf("state_text");
    static constexpr int Text = JournalTableColumnOf("text");
    static constexpr int Quality = JournalTableColumnOf("quality");
    static constexpr int Received = JournalTableColumnOf("received");
    static constexpr int Clock = JournalTableColumnOf("clock_source");
    static constexpr int DefaultMaxRows = 20000;

    // The table's columns, in its order.
    static const QList<const JournalColumn*>& columns();
    // What column `column` of the table shows for `event`; `chattering`:
    // it is a change of a chattering point.
    static QString shownText(const JournalColumn& column, const JournalEvent& event, bool chattering = false);
    // What the CSV export writes for it: the stored value, with 0 empty in
    // a column that shows it so.
    static QString exportedText(const JournalColumn& column, const JournalEvent& event);
    // What the marks in brackets a row can carry mean, a line each: the
    // record's after the event text, its clock's in the Clock column. The
    // tooltip of those columns' headers and the window's Legend.
    static QString legend();

    explicit JournalTableModel(int maxRows = DefaultMaxRows, QObject* parent = nullptr);

    // Replaces the rows (the newest of them when there are more than
    // maxRows), in the current order.
    void setRows(QList<JournalEvent> rows);
    // Adds the rows not held yet (by id), each where the order puts it;
    // returns how many were added.
    int addRows(const QList<JournalEvent>& rows);

    // The icon of a clock cell whose clock is in doubt (widgets need an
    // application with a display for one, so the window gives it); none: a
    // colour alone marks it.
    void setDoubtIcon(const QIcon& icon) { doubtIcon_ = icon; }
    // The icon of a commented row's event text.
    void setCommentIcon(const QIcon& icon) { commentIcon_ = icon; }

    // The comments on the rows, by row id (those of ids not held are kept
    // for when their rows arrive); rows whose comments changed are redrawn.
    void setComments(QHash<qint64, QList<Comment>> comments);
    // The comments on row `row`, oldest first.
    QList<Comment> commentsAt(int row) const { return comments_.value(rows_.at(row).id); }

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

    // The time line the rows are on: UTC when every row held has a UTC time.
    JournalTimeOrder timeOrder() const { return timeOrder_; }

private:
    bool before(const JournalEvent& a, const JournalEvent& b) const;
    bool earlier(const JournalEvent& a, const JournalEvent& b) const;
    void trim();
    void findChatter();

    QList<JournalEvent> rows_;
    QSet<qint64> ids_;
    QSet<qint64> chattering_;
    int maxRows_;
    bool dropped_ = false;
    JournalTimeOrder timeOrder_ = JournalTimeOrder::ModuleTime;
    int sortColumn_ = ModuleTime;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QIcon doubtIcon_;
    QHash<qint64, QList<Comment>> comments_;
    QIcon commentIcon_;
};

} // namespace chronel
