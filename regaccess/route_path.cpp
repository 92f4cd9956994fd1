#include "regaccess/route_path.h"

#include <cctype>
#include <cstddef>

namespace regaccess {

namespace {

constexpr std::size_t MaxFieldLength = 31;

// Like atoi, but only the low 8 bits are kept, so any length of digits is
// safe: the value is accumulated modulo 2^32, which leaves the low byte exact.
std::uint8_t FieldValue(std::string_view field)
{
    std::size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i])))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    std::uint32_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10u + static_cast<std::uint32_t>(field[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<std::uint8_t>(value);
}

} // namespace

RouteBytes ParseRoutePath(std::string_view text)
{
    RouteBytes route;
    if (text.empty())
        return route;
    std::size_t fieldStart = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '.')
            continue;
        std::string_view field = text.substr(fieldStart, i - fieldStart);
        if (field.size() > MaxFieldLength)
            field = field.substr(0, MaxFieldLength);
        if (route.fieldCount < static_cast<int>(route.bytes.size()))
            route.bytes[static_cast<std::size_t>(route.fieldCount)] = FieldValue(field);
        ++route.fieldCount;
        fieldStart = i + 1;
    }
    return route;
}

} // namespace regaccess
