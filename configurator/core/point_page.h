#pragma once
// The page of eight point rows on the SER Setup tab and the index of the point
// in its first row (the page top, 0 … 24, chosen by the scroll bar). Rows hold
// the screen texts; the point table holds the values. Storing takes the rows
// into the table at the current top, loading fills the rows from it.
#include "field_clamp.h"
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
    static constexpr int RowCount = 8;
    static constexpr int MaxTop = PointCount - RowCount;

    int top() const { return top_; }
    PointRow& row(int r) { return rows_.at(std::size_t(r)); }
    const PointRow& row(int r) const { return rows_.at(std::size_t(r)); }

    // Takes the eight rows into the table at the current top. Filter and
    // debounce are clamped to 0 … 65535, chatter to −32768 … 32767; a row
    // field whose number was clamped is rewritten to the stored value and
    // reported, so the caller can mark it. Only an unchecked box disables its
    // point; a grey box leaves it enabled.
    QList<FieldClamp> store(PointTable& table);
    // Fills the eight rows from the table at the current top.
    void load(const PointTable& table);
    // Scrolling: store at the old top, move to `newTop` (kept within
    // 0 … MaxTop), load at the new top.
    QList<FieldClamp> show(int newTop, PointTable& table);
    // Moves the top without storing; used at start, when the rows do not yet
    // hold anything worth keeping.
    void setTop(int newTop);

private:
    std::array<PointRow, RowCount> rows_{};
    int top_ = 0;
};

} // namespace chronel
