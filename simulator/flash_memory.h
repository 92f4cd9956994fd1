// The module's 512 KiB program flash: NOR semantics, so programming can only
// clear bits and a sector must be erased (back to 0xFF) before it is rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace chronel::sim {

class FlashMemory {
public:
    static constexpr size_t kSize = 512 * 1024;
    static constexpr size_t kSectorSize = 64 * 1024;
    // The programming sequence erases sectors 0 ... 8; sector 8 lies past the
    // array and is accepted as an empty erase.
    static constexpr int kHighestSector = 8;

    FlashMemory();

    // False (and nothing erased) for a sector number above kHighestSector.
    bool eraseSector(int sector);
    // False when the range does not lie inside the array.
    bool program(size_t offset, std::span<const uint8_t> bytes);
    bool read(size_t offset, std::span<uint8_t> out) const;

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

} // namespace chronel::sim
