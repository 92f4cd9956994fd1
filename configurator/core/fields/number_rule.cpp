#include "number_rule.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace chronel {

namespace {

bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

} // namespace

double LeadingNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;

    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    // Collect the number in plain ASCII so that std::from_chars, which ignores
    // the process locale, can convert it.
    std::string digits;
    bool mantissaDigit = false;
    while (i < n && IsDigit(text[i])) {
        digits += char(text[i].unicode());
        mantissaDigit = true;
        ++i;
    }
    if (i < n && text[i] == u'.') {
        digits += '.';
        ++i;
        while (i < n && IsDigit(text[i])) {
            digits += char(text[i].unicode());
            mantissaDigit = true;
            ++i;
        }
    }
    if (!mantissaDigit)
        return 0.0;

    // An exponent counts only when at least one digit follows it: "12e" is 12.
    bool negativeExponent = false;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        bool expNegative = false;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            expNegative = text[j] == u'-';
            ++j;
        }
        if (j < n && IsDigit(text[j])) {
            digits += 'e';
            if (expNegative)
                digits += '-';
            negativeExponent = expNegative;
            while (j < n && IsDigit(text[j])) {
                digits += char(text[j].unicode());
                ++j;
            }
        }
    }

    double value = 0.0;
    const std::from_chars_result parsed =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::general);
    if (parsed.ec == std::errc::result_out_of_range)
        value = negativeExponent ? 0.0 : std::numeric_limits<double>::infinity();
    else if (parsed.ec != std::errc())
        value = 0.0;
    return negative ? -value : value;
}

double RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction > 0.5)
        return lower + 1.0;
    if (fraction < 0.5)
        return lower;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

qint64 ClampRounded(double value, qint64 low, qint64 high)
{
    if (std::isnan(value))
        return low;
    if (value <= double(low))
        return low;
    if (value >= double(high))
        return high;
    return qint64(value);
}

QString NumberText(qint64 value)
{
    return value >= 0 ? QLatin1Char(' ') + QString::number(value) : QString::number(value);
}

FieldNumber ToFieldNumber(double rounded)
{
    FieldNumber result;
    result.value = qint16(ClampRounded(rounded, -32768, 32767));
    result.clamped = !(rounded >= -32768.0 && rounded <= 32767.0);
    return result;
}

FieldNumber ReadFieldNumber(QStringView text) { return ToFieldNumber(RoundHalfEven(LeadingNumber(text))); }

} // namespace chronel
