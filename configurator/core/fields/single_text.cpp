#include "single_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace chronel {

namespace {

constexpr int MaxDigits = 7;
constexpr int FirstExponentForm = 7;  // 1E+07 and up
constexpr int LastPlainExponent = -4; // 0.0001 is still written plainly

// Digits (no trailing zeros) and decimal exponent of the shortest form of
// |value| that reads back as `value`: value = d.ddd × 10^exponent.
void ShortestDigits(float magnitude, std::string& digits, int& exponent)
{
    char buffer[32];
    for (int precision = 0; precision < MaxDigits; ++precision) {
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, double(magnitude), std::chars_format::scientific, precision);
        float back = 0;
        std::from_chars(buffer, result.ptr, back, std::chars_format::scientific);
        if (back == magnitude || precision == MaxDigits - 1) {
            const std::string text(buffer, result.ptr);
            const std::size_t e = text.find('e');
            digits.clear();
            for (std::size_t i = 0; i < e; ++i) {
                if (text[i] != '.')
                    digits += text[i];
            }
            while (digits.size() > 1 && digits.back() == '0')
                digits.pop_back();
            std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(), exponent);
            return;
        }
    }
}

} // namespace

QString SingleText(float value)
{
    if (std::isnan(value))
        return QStringLiteral(" NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral(" Inf") : QStringLiteral("-Inf");
    const QString sign = std::signbit(value) && value != 0 ? QStringLiteral("-") : QStringLiteral(" ");
    if (value == 0)
        return sign + QLatin1Char('0');

    std::string digits;
    int exponent = 0;
    ShortestDigits(std::fabs(value), digits, exponent);

    std::string text;
    const int count = int(digits.size());
    if (exponent >= FirstExponentForm || exponent < LastPlainExponent) {
        text = digits.substr(0, 1);
        if (count > 1)
            text += '.' + digits.substr(1);
        char e[8];
        const auto r = std::to_chars(e, e + sizeof e, std::abs(exponent));
        std::string expDigits(e, r.ptr);
        if (expDigits.size() < 2)
            expDigits.insert(0, 1, '0');
        text += std::string("E") + (exponent < 0 ? '-' : '+') + expDigits;
    } else if (exponent < 0) {
        text = "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    } else if (count <= exponent + 1) {
        text = digits + std::string(std::size_t(exponent + 1 - count), '0');
    } else {
        text = digits.substr(0, std::size_t(exponent + 1)) + '.' + digits.substr(std::size_t(exponent + 1));
    }
    return sign + QString::fromLatin1(text.data(), qsizetype(text.size()));
}

float SingleFromWords(qint16 low, qint16 high)
{
    return std::bit_cast<float>(std::uint32_t(quint16(low)) | std::uint32_t(quint16(high)) << 16);
}

} // namespace chronel
