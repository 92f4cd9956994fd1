#pragma once
// The control's 512-byte register buffer and its typed views.
//
// The buffer holds 256 16-bit words in little-endian order (registers are
// byte-swapped between the big-endian wire and this order by the request and
// reply code). The byte, long and float views index the same bytes in memory
// order, so byte 2k is the low byte of word k, and a 32-bit element i spans
// words 2i (low half) and 2i + 1 (high half).
//
// Accessors never fail: every index is clamped into its view (negative
// becomes 0) and every value is stored truncated to the element's width.
#include "regaccess/plctag_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace regaccess {

class PLCTAG_EXPORT RegisterBuffer {
public:
    static constexpr std::size_t Bytes = 512;
    static constexpr int Words = 256;
    static constexpr int Longs = 128;
    static constexpr int BitsPerWord = 16;

    RegisterBuffer() { clear(); }

    void clear() { bytes_.fill(0); }

    bool bit(int wordIndex, int bitIndex) const;
    void setBit(int wordIndex, int bitIndex, bool value);
    // 0 … 255.
    int byte(int index) const;
    void setByte(int index, int value);
    std::int16_t word(int index) const;
    void setWord(int index, int value);
    // A word read as four BCD digits; reading stops at the first nibble
    // above 9 (0x12A4 reads 12).
    int bcdWord(int index) const;
    // Negative (as a 16-bit value) stores 0, above 9999 stores 9999.
    void setBcdWord(int index, int value);
    std::int32_t longValue(int index) const;
    void setLongValue(int index, std::int32_t value);
    float floatValue(int index) const;
    void setFloatValue(int index, float value);
    // Eight BCD digits, the higher-numbered word carrying the top four.
    std::int32_t bcdLong(int index) const;
    void setBcdLong(int index, std::int32_t value);

    std::span<std::uint8_t, Bytes> bytes() { return bytes_; }
    std::span<const std::uint8_t, Bytes> bytes() const { return bytes_; }
    std::uint8_t* data() { return bytes_.data(); }

    static int clampWordIndex(int index);
    static int clampByteIndex(int index);
    static int clampLongIndex(int index);
    static int clampBitIndex(int index);

private:
    std::uint32_t rawLong(int index) const;
    void setRawLong(int index, std::uint32_t value);

    alignas(4) std::array<std::uint8_t, Bytes> bytes_;
};

// The string view (StrVal). Text travels two characters per register, the
// first character in the high byte so that it goes first on the wire.
//
// Reads the first `size` words (none when `size` < 1, at most 256) as high
// byte then low byte: exactly 2 × size characters, zero bytes included.
PLCTAG_EXPORT std::string readString(const RegisterBuffer& buffer, int size);
// Zeroes the buffer and stores the first 512 bytes of `text`; returns the
// number of words used (the new Size), at least 1.
PLCTAG_EXPORT int writeString(RegisterBuffer& buffer, std::string_view text);

} // namespace regaccess
