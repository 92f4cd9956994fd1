#include "flash_memory.h"

#include <algorithm>

namespace chronel::sim {

FlashMemory::FlashMemory() : bytes_(kSize, 0xFF) { }

bool FlashMemory::eraseSector(int sector)
{
    if (sector < 0 || sector > kHighestSector)
        return false;
    size_t first = static_cast<size_t>(sector) * kSectorSize;
    if (first >= kSize)
        return true;
    size_t last = std::min(first + kSectorSize, kSize);
    std::fill(bytes_.begin() + static_cast<ptrdiff_t>(first), bytes_.begin() + static_cast<ptrdiff_t>(last), 0xFF);
    return true;
}

bool FlashMemory::program(size_t offset, std::span<const uint8_t> in)
{
    if (offset > kSize || in.size() > kSize - offset)
        return false;
    for (size_t i = 0; i < in.size(); ++i)
        bytes_[offset + i] &= in[i];
    return true;
}

bool FlashMemory::read(size_t offset, std::span<uint8_t> out) const
{
    if (offset > kSize || out.size() > kSize - offset)
        return false;
    std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

} // namespace chronel::sim
