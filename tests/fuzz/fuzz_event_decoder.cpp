// Event blocks as the module (or anything answering in its place) hands them
// out: a run of 200-byte blocks through one decoder, which keeps its date and
// resync state from block to block. Every block must decode to a bounded
// number of lines without harm, in the C locale and in a German one.
#include "core/events/event_decoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t BlockBytes = sizeof(chronel::EventBlockWords);
    static const QLocale german(QLocale::German, QLocale::Germany);
    chronel::EventDecoder plain(QLocale::c());
    chronel::EventDecoder localised(german);
    for (std::size_t offset = 0; offset < size; offset += BlockBytes) {
        chronel::EventBlockWords block{};
        std::memcpy(block.data(), data + offset, std::min(BlockBytes, size - offset));
        const int records = chronel::EventDecoder::RecordCount(block);
        if (records < 0 || records > chronel::eventblock::Type0Capacity)
            std::abort();
        // A type-0 resync pair gives at most one line per record.
        if (plain.decode(block).size() > records || localised.decode(block).size() > records)
            std::abort();
        (void)chronel::EventDecoder::Type3Text(block);
    }
    return 0;
}
