#include "regaccess/register_buffer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace regaccess {

namespace {

// Reads BCD digits from the most significant nibble down and stops at the
// first nibble that is not a decimal digit, which is what hosts see when a
// register holds a value that is not clean BCD.
std::int32_t FromBcd(std::uint32_t value, int digits)
{
    std::int32_t result = 0;
    for (int i = digits - 1; i >= 0; --i) {
        const unsigned nibble = (value >> (4 * i)) & 0xF;
        if (nibble > 9)
            break;
        result = result * 10 + static_cast<std::int32_t>(nibble);
    }
    return result;
}

std::uint32_t ToBcd(std::uint32_t value, int digits)
{
    std::uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        result |= (value % 10) << (4 * i);
        value /= 10;
    }
    return result;
}

} // namespace

int RegisterBuffer::clampWordIndex(int index) { return std::clamp(index, 0, Words - 1); }
int RegisterBuffer::clampByteIndex(int index) { return std::clamp(index, 0, static_cast<int>(Bytes) - 1); }
int RegisterBuffer::clampLongIndex(int index) { return std::clamp(index, 0, Longs - 1); }
int RegisterBuffer::clampBitIndex(int index) { return std::clamp(index, 0, BitsPerWord - 1); }

bool RegisterBuffer::bit(int wordIndex, int bitIndex) const
{
    const auto w = static_cast<std::uint16_t>(word(wordIndex));
    return (w >> clampBitIndex(bitIndex)) & 1u;
}

void RegisterBuffer::setBit(int wordIndex, int bitIndex, bool value)
{
    auto w = static_cast<std::uint16_t>(word(wordIndex));
    const auto mask = static_cast<std::uint16_t>(1u << clampBitIndex(bitIndex));
    w = value ? static_cast<std::uint16_t>(w | mask) : static_cast<std::uint16_t>(w & ~mask);
    setWord(wordIndex, w);
}

int RegisterBuffer::byte(int index) const { return bytes_[static_cast<std::size_t>(clampByteIndex(index))]; }

void RegisterBuffer::setByte(int index, int value)
{
    bytes_[static_cast<std::size_t>(clampByteIndex(index))] = static_cast<std::uint8_t>(value & 0xFF);
}

std::int16_t RegisterBuffer::word(int index) const
{
    const auto at = static_cast<std::size_t>(clampWordIndex(index)) * 2;
    return static_cast<std::int16_t>(bytes_[at] | (bytes_[at + 1] << 8));
}

void RegisterBuffer::setWord(int index, int value)
{
    const auto at = static_cast<std::size_t>(clampWordIndex(index)) * 2;
    bytes_[at] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

int RegisterBuffer::bcdWord(int index) const { return FromBcd(static_cast<std::uint16_t>(word(index)), 4); }

void RegisterBuffer::setBcdWord(int index, int value)
{
    const int v = std::clamp<int>(static_cast<std::int16_t>(value), 0, 9999);
    setWord(index, static_cast<int>(ToBcd(static_cast<std::uint32_t>(v), 4)));
}

std::uint32_t RegisterBuffer::rawLong(int index) const
{
    const auto at = static_cast<std::size_t>(clampLongIndex(index)) * 4;
    return static_cast<std::uint32_t>(bytes_[at]) | (static_cast<std::uint32_t>(bytes_[at + 1]) << 8) |
        (static_cast<std::uint32_t>(bytes_[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes_[at + 3]) << 24);
}

void RegisterBuffer::setRawLong(int index, std::uint32_t value)
{
    const auto at = static_cast<std::size_t>(clampLongIndex(index)) * 4;
    for (std::size_t i = 0; i < 4; ++i)
        bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::int32_t RegisterBuffer::longValue(int index) const { return static_cast<std::int32_t>(rawLong(index)); }

void RegisterBuffer::setLongValue(int index, std::int32_t value)
{
    setRawLong(index, static_cast<std::uint32_t>(value));
}

float RegisterBuffer::floatValue(int index) const { return std::bit_cast<float>(rawLong(index)); }

void RegisterBuffer::setFloatValue(int index, float value) { setRawLong(index, std::bit_cast<std::uint32_t>(value)); }

std::int32_t RegisterBuffer::bcdLong(int index) const { return FromBcd(rawLong(index), 8); }

void RegisterBuffer::setBcdLong(int index, std::int32_t value)
{
    const std::int32_t v = std::clamp<std::int32_t>(value, 0, 99999999);
    setRawLong(index, ToBcd(static_cast<std::uint32_t>(v), 8));
}

std::string readString(const RegisterBuffer& buffer, int size)
{
    const int words = std::clamp(size, 0, RegisterBuffer::Words);
    const auto bytes = buffer.bytes();
    std::string text;
    text.reserve(static_cast<std::size_t>(words) * 2);
    for (int i = 0; i < words; ++i) {
        text.push_back(static_cast<char>(bytes[static_cast<std::size_t>(2 * i + 1)]));
        text.push_back(static_cast<char>(bytes[static_cast<std::size_t>(2 * i)]));
    }
    return text;
}

int writeString(RegisterBuffer& buffer, std::string_view text)
{
    buffer.clear();
    const std::size_t count = std::min(text.size(), RegisterBuffer::Bytes);
    auto bytes = buffer.bytes();
    std::memcpy(bytes.data(), text.data(), count);
    const int words = std::max(1, static_cast<int>((count + 1) / 2));
    for (int i = 0; i < words; ++i)
        std::swap(bytes[static_cast<std::size_t>(2 * i)], bytes[static_cast<std::size_t>(2 * i + 1)]);
    return words;
}

} // namespace regaccess
