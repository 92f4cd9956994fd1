#include "driver/number_text.h"

#include <cstdlib>
#include <cstring>

namespace plcdrv {

int NumberText::decimal(std::string_view text) const
{
    char buffer[32];
    const std::size_t n = text.size() < 31 ? text.size() : 31;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    const long value = std::strtol(buffer, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(value);
}

std::uint32_t NumberText::hexadecimal(std::string_view text) const
{
    std::uint32_t value = 0;
    for (char c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        std::uint32_t digit = 0;
        if (c >= '1' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        value = (value << 4) | digit;
    }
    return value;
}

} // namespace plcdrv
