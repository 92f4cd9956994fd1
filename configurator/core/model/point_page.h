#pragma once
// The page of point rows on the SER Setup tab and the index of the point in
// its first row (the page top, chosen by the scroll bar). A page has eight
// rows, or as many as the window has room for, up to all 32 (the top is then
// 0). Rows hold the screen texts; the point table holds the values. Storing
// takes the rows into the table at the current top, loading fills the rows
// from it.
#include "core/fields/field_clamp.h"
#include "module_settings.h"
#include "point_table.h"

#include <QList>
#include <array>

namespace chronel {

struct PointRow {
    QString SsPcPointNum;
    Check SsPcEnable = Check::Unchecked;
    QString SsPcFilter;
    QString SsPcDebounce;
    QString SsPcChatter;
    QString SsPcDescription;
    QString SsPcOff;
    QString SsPcOn;

    bool operator==(const PointRow&) const = default;
};

class PointPage {
public:
    static constexpr int RowCount = 8; // rows unless the window makes room
    static constexpr int MaxRows = PointCount;

    int top() const { return top_; }
    int rows() const { return rowCount_; }
    int maxTop() const { return PointCount - rowCount_; }
    PointRow& row(int r) { return rows_.at(std::size_t(r)); }
    const PointRow& row(int r) const { return rows_.at(std::size_t(r)); }

    // Takes the rows into the table at the current top. Filter and
    // debounce are clamped to 0 … 65535, chatter to −32768 … 32767; a row
    // field whose number was clamped is rewritten to the stored value and
    // reported, so the caller can mark it. Only an unchecked box disables its
    // point; a grey box leaves it enabled.
    QList<FieldClamp> store(PointTable& table);
    // Fills the rows from the table at the current top.
    void load(const PointTable& table);
    // Scrolling: store at the old top, move to `newTop` (kept within
    // 0 … maxTop()), load at the new top.
    QList<FieldClamp> show(int newTop, PointTable& table);
    // Moves the top without storing; used at start, when the rows do not yet
    // hold anything worth keeping.
    void setTop(int newTop);
    // A window with room for `count` rows (RowCount … MaxRows): store, show
    // that many from the same top (earlier if the last point would pass the
    // end), load.
    QList<FieldClamp> showRows(int count, PointTable& table);

private:
    std::array<PointRow, MaxRows> rows_{};
    int rowCount_ = RowCount;
    int top_ = 0;
};

} // namespace chronel
