#pragma once
// The number rule of the configurator's text fields. Numbers are read as the
// leading number of a field's text and rounded to an integer with halves to
// the even neighbour; numbers are shown in decimal with a blank in place of
// the sign for zero and positive values (20 is shown as " 20").
#include <QString>
#include <QStringView>

namespace chronel {

// The leading number of `text`: leading blanks and tabs skipped, an optional
// sign, digits with an optional decimal point and an optional exponent.
// Reading stops at the first character that cannot continue the number; a
// text without a number gives 0. Never NaN; an exponent beyond the range of a
// double gives ±infinity (or 0 for a tiny value).
double LeadingNumber(QStringView text);

// Rounds to an integer, halves to the even neighbour: 2.5 → 2, 3.5 → 4,
// −2.5 → −2. Infinities pass through unchanged.
double RoundHalfEven(double value);

// `value` brought into low … high; safe for any double including ±infinity.
qint64 ClampRounded(double value, qint64 low, qint64 high);

// Decimal text with a blank in front of zero and positive values.
QString NumberText(qint64 value);

// A numeric field read for one signed register word. A rounded number outside
// −32768 … 32767 cannot be sent as it stands: it is clamped into the range and
// `clamped` tells the caller to show the user what was used instead.
struct FieldNumber {
    qint16 value = 0;
    bool clamped = false;
};
FieldNumber ToFieldNumber(double rounded);
FieldNumber ReadFieldNumber(QStringView text);

} // namespace chronel
