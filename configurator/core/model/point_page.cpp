#include "point_page.h"

#include "core/fields/number_rule.h"

namespace chronel {

namespace {

// Reads a row's number field into low … high; rewrites the field and returns
// a clamp record when the rounded number lay outside.
qint64 ReadRowNumber(QString& field, const char* control, int row, qint64 low, qint64 high, QList<FieldClamp>& clamps)
{
    const double rounded = RoundHalfEven(LeadingNumber(field));
    const qint64 value = ClampRounded(rounded, low, high);
    if (!(rounded >= double(low) && rounded <= double(high))) {
        FieldClamp clamp;
        clamp.control = QString::fromLatin1(control);
        clamp.row = row;
        clamp.typed = field;
        clamp.shown = NumberText(value);
        clamp.low = low;
        clamp.high = high;
        field = clamp.shown;
        clamps.append(clamp);
    }
    return value;
}

} // namespace

QList<FieldClamp> PointPage::store(PointTable& table)
{
    QList<FieldClamp> clamps;
    for (int r = 0; r < rowCount_; ++r) {
        PointRow& row = rows_[std::size_t(r)];
        PointSettings& point = table[std::size_t(top_ + r)];
        SetPointDisabled(point, row.SsPcEnable == Check::Unchecked);
        point.SsPcFilter = quint16(ReadRowNumber(row.SsPcFilter, "txtSsPcFilter", r, 0, 65535, clamps));
        point.SsPcDebounce = quint16(ReadRowNumber(row.SsPcDebounce, "txtSsPcDebounce", r, 0, 65535, clamps));
        point.SsPcChatter = qint16(ReadRowNumber(row.SsPcChatter, "txtSsPcChatter", r, -32768, 32767, clamps));
        point.SsPcDescription = row.SsPcDescription;
        point.SsPcOff = row.SsPcOff;
        point.SsPcOn = row.SsPcOn;
    }
    return clamps;
}

void PointPage::load(const PointTable& table)
{
    for (int r = 0; r < rowCount_; ++r) {
        const int p = top_ + r;
        const PointSettings& point = table[std::size_t(p)];
        PointRow& row = rows_[std::size_t(r)];
        row.SsPcPointNum = NumberText(p + 1);
        row.SsPcEnable = point.SsPcDisabled ? Check::Unchecked : Check::Checked;
        row.SsPcFilter = NumberText(point.SsPcFilter);
        row.SsPcDebounce = NumberText(point.SsPcDebounce);
        row.SsPcChatter = NumberText(point.SsPcChatter);
        row.SsPcDescription = point.SsPcDescription;
        row.SsPcOff = point.SsPcOff;
        row.SsPcOn = point.SsPcOn;
    }
}

QList<FieldClamp> PointPage::show(int newTop, PointTable& table)
{
    QList<FieldClamp> clamps = store(table);
    setTop(newTop);
    load(table);
    return clamps;
}

void PointPage::setTop(int newTop) { top_ = newTop < 0 ? 0 : (newTop > maxTop() ? maxTop() : newTop); }

QList<FieldClamp> PointPage::showRows(int count, PointTable& table)
{
    QList<FieldClamp> clamps = store(table);
    rowCount_ = count < RowCount ? RowCount : (count > MaxRows ? MaxRows : count);
    setTop(top_);
    load(table);
    return clamps;
}

} // namespace chronel
