#pragma once
// Reads a fuzz input from the front only, so that a seed written as
// "header fields, then payload" is read in the order it was written (the
// fuzzer's FuzzedDataProvider takes integers from the back). Past the end,
// every read gives zeros or nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fuzzing {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) { }

    std::size_t remaining() const { return size_ - position_; }
    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    // The next `count` bytes, fewer at the end of the input.
    std::span<const std::uint8_t> bytes(std::size_t count)
    {
        count = std::min(count, remaining());
        const std::span<const std::uint8_t> out(data_ + position_, count);
        position_ += count;
        return out;
    }
    // A text of at most 255 bytes: a length byte, then the bytes.
    std::string text()
    {
        const auto b = bytes(byte());
        return std::string(b.begin(), b.end());
    }
    std::span<const std::uint8_t> rest() { return bytes(remaining()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

} // namespace fuzzing
