#pragma once
// Text-to-integer conversions of the message classes.
#include <cstdint>
#include <string_view>

namespace plcdrv {

class NumberText {
public:
    // The leading decimal number of at most the first 31 characters (leading
    // blanks and a sign allowed), 0 when there is none; saturates instead of
    // overflowing.
    int decimal(std::string_view text) const;
    // Upper-cases, then reads four bits per character: '1'..'9' and 'A'..'F'
    // give their digit value, every other character counts as 0. Wraps
    // modulo 2^32 for texts longer than eight characters.
    std::uint32_t hexadecimal(std::string_view text) const;
};

} // namespace plcdrv
