// Intel-HEX lines as a firmware file hands them to the loader: each line of
// the input is parsed in turn with one shared load state, as Load File does.
// Besides surviving any line, the parser must keep its contract: a rejected
// line changes neither the state nor the image, and an accepted data record
// puts exactly its bytes at base + address.
#include "core/flash/intel_hex.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

chronel::FlashImage& SharedImage()
{
    static auto image = std::make_unique<chronel::FlashImage>();
    return *image;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    chronel::FlashImage& image = SharedImage();
    image.erase();
    chronel::HexLoadState state;
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t begin = 0;
    while (begin <= size) {
        std::size_t end = begin;
        while (end < size && text[end] != '\n')
            ++end;
        const QByteArrayView line(text + begin, qsizetype(end - begin));
        const chronel::HexLoadState before = state;
        const chronel::HexLineError error = chronel::ParseHexLine(line, state, image);
        if (error != chronel::HexLineError::None) {
            Check(state.segmentBase == before.segmentBase && state.bytesLoaded == before.bytesLoaded);
            Check(!chronel::HexLineErrorMessage(error, 1).isEmpty());
        } else if (chronel::HexDigitValue(line[7]) == 0 && chronel::HexDigitValue(line[8]) == 0) {
            // A data record: count at 1-2, address at 3-6, data from 9.
            const int count = chronel::HexDigitValue(line[1]) * 16 + chronel::HexDigitValue(line[2]);
            quint32 address = 0;
            for (int i = 3; i < 7; ++i)
                address = address * 16 + quint32(chronel::HexDigitValue(line[i]));
            Check(state.bytesLoaded == before.bytesLoaded + quint32(count));
            for (int i = 0; i < count; ++i) {
                const quint8 expected =
                    quint8(chronel::HexDigitValue(line[9 + 2 * i]) * 16 + chronel::HexDigitValue(line[10 + 2 * i]));
                Check(image.at(before.segmentBase + address + quint32(i)) == expected);
            }
        }
        begin = end + 1;
    }
    return 0;
}
