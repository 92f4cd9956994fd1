// Private-profile files as a user or another program leaves them: any bytes,
// any line ends, duplicate and malformed sections. The reader must answer
// every query, PLCDRV must read its adapters from the file without harm, and
// a write must keep its promise: when it reports success the value reads
// back as written and every other key keeps its value.
#include "driver/adapter_config.h"
#include "platform/profile.h"

#include "byte_reader.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

QString FuzzText(fuzzing::ByteReader& input)
{
    const std::string bytes = input.text();
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

const QString& ScratchFile()
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/chronel-fuzz-profile-%1.ini").arg(qint64(::getpid()));
    return path;
}

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: [%s]\n", what, detail.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Layout: section, key, value, another section and key (each a length
    // byte and its bytes), an adapter number, then the file.
    fuzzing::ByteReader input(data, size);
    const QString section = FuzzText(input);
    const QString key = FuzzText(input);
    const QString value = FuzzText(input);
    const QString otherSection = FuzzText(input);
    const QString otherKey = FuzzText(input);
    const int adapter = input.byte() % 8 + 1;
    const int comPort = input.byte();
    const auto file = input.rest();
    const std::string content(file.begin(), file.end());

    const QString& path = ScratchFile();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(content.data(), qint64(content.size()));
    }

    (void)platform::PrivateProfile::getInt(path, section, key, -7);
    (void)platform::PrivateProfile::getString(path, section, key);

    plcdrv::AdapterConfig config(path, [](const QString&) {});
    (void)config.enabled(adapter);
    plcdrv::AdapterLink link;
    (void)config.configure(adapter, link);
    (void)config.comPortDevice(comPort);

    const QString missing = QStringLiteral("\x01missing");
    const QString otherBefore = platform::PrivateProfile::getString(path, otherSection, otherKey, missing);
    if (platform::PrivateProfile::writeString(path, section, key, value)) {
        const QString readBack = platform::PrivateProfile::getString(path, section, key, missing);
        if (readBack != value)
            Fail("written value does not read back", value + QStringLiteral("] read [") + readBack);
        const bool sameEntry =
            otherSection.compare(section, Qt::CaseInsensitive) == 0 && otherKey.compare(key, Qt::CaseInsensitive) == 0;
        if (!sameEntry && platform::PrivateProfile::getString(path, otherSection, otherKey, missing) != otherBefore)
            Fail("a write changed another key", otherSection + QStringLiteral("] [") + otherKey);
    }
    QFile::remove(path);
    return 0;
}
