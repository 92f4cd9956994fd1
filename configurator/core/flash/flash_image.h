#pragma once
// The in-memory flash image a firmware file is loaded into and the module's
// flash is programmed and verified from: one byte per flash address,
// positions 0 … 0x80000 inclusive, 0xFF where the file stores nothing (the
// value of erased flash).
#include "core/model/module_map.h"

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <optional>

namespace chronel {

constexpr quint32 FlashImageLast = 0x80000;
constexpr std::size_t FlashImageSize = FlashImageLast + 1; // 524,289 bytes
constexpr quint8 ErasedFlashByte = 0xFF;
// Programming never goes past this position: the module keeps its own code
// above it.
constexpr quint32 FlashProgramLimit = 0x7A000;
// A data block (FlashBlockBytes) is 64 registers of the module's data
// window, two bytes each.
static_assert(FlashImageSize == 524289);
static_assert(FlashProgramLimit + FlashBlockBytes * 2 <= FlashImageSize,
    "the read-back may pass the end by one block and must stay inside the image");

class FlashImage {
public:
    FlashImage() { erase(); }

    void erase() { bytes_.fill(ErasedFlashByte); }

    // Out-of-range positions read as erased flash and are never written.
    quint8 at(quint32 position) const { return position < FlashImageSize ? bytes_[position] : ErasedFlashByte; }
    // Stores `count` bytes from `position`; false (and nothing stored) when
    // they do not all fit.
    bool store(quint64 position, const quint8* data, std::size_t count);

    // Register k of the block at `offset` carries the byte at offset + 2k in
    // its low half and the byte at offset + 2k + 1 in its high half.
    quint16 blockWord(quint32 offset, int k) const;

    const std::array<quint8, FlashImageSize>& bytes() const { return bytes_; }

private:
    std::array<quint8, FlashImageSize> bytes_;
};

// `FlashEnd`: the highest position at or below FlashProgramLimit whose byte
// is not erased, found by scanning down; nothing when every byte there is.
std::optional<quint32> FindFlashEnd(const FlashImage& image);

} // namespace chronel
