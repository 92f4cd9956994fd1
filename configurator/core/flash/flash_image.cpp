#include "flash_image.h"

#include <algorithm>

namespace chronel {

bool FlashImage::store(quint64 position, const quint8* data, std::size_t count)
{
    if (position > FlashImageSize || count > FlashImageSize - position)
        return false;
    std::copy_n(data, count, bytes_.begin() + std::ptrdiff_t(position));
    return true;
}

quint16 FlashImage::blockWord(quint32 offset, int k) const
{
    const quint32 low = offset + 2 * quint32(k);
    return quint16(at(low) | (at(low + 1) << 8));
}

std::optional<quint32> FindFlashEnd(const FlashImage& image)
{
    for (quint32 position = FlashProgramLimit + 1; position-- > 0;) {
        if (image.bytes()[position] != ErasedFlashByte)
            return position;
    }
    return std::nullopt;
}

} // namespace chronel
