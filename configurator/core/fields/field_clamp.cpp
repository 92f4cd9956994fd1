#include "field_clamp.h"

namespace chronel {

QString FieldKey(const QString& control, int row)
{
    return row < 0 ? control : QStringLiteral("%1(%2)").arg(control).arg(row);
}

QString FieldClamp::key() const { return FieldKey(control, row); }

QString FieldClamp::note() const
{
    return QStringLiteral("\"%1\" lies outside %2 … %3; %4 is used instead.")
        .arg(typed.trimmed())
        .arg(low)
        .arg(high)
        .arg(shown.trimmed());
}

} // namespace chronel
