// Whole firmware files through Load File: line ends of every system, lines of
// any length, binary junk. The load must end, report every bad line, and
// count no more bytes than the file's data records can hold.
#include "core/flash/flash_loader.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static auto image = std::make_unique<chronel::FlashImage>();
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    chronel::FlashStatus status;
    const chronel::FlashLoadResult result = chronel::LoadHexFile(file, QStringLiteral("fuzz.hex"), *image, status);
    // Each data byte takes two hex digits of the file.
    if (result.bytesLoaded > size / 2)
        std::abort();
    if (status.lines().isEmpty())
        std::abort();
    return 0;
}
