#include "intel_hex.h"

#include "core/fields/number_rule.h"

#include <array>

namespace chronel {

namespace {

constexpr qsizetype MinimumLineLength = 11; // ":" count address type checksum

// The field of `digits` hex digits starting at 1-based `position`. Positions
// past the end of the line read as 0, like any other non-digit.
quint32 HexField(QByteArrayView line, qsizetype position, int digits)
{
    quint32 value = 0;
    for (int i = 0; i < digits; ++i) {
        const qsizetype index = position - 1 + i;
        value = value * 16 + quint32(index < line.size() ? HexDigitValue(line[index]) : 0);
    }
    return value;
}

quint8 ByteAt(QByteArrayView line, qsizetype position) { return quint8(HexField(line, position, 2)); }

} // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

HexLineError ParseHexLine(QByteArrayView line, HexLoadState& state, FlashImage& image)
{
    if (line.size() < MinimumLineLength)
        return HexLineError::Length;
    if (line[0] != ':')
        return HexLineError::StartingCharacter;
    const int count = ByteAt(line, 2);
    if (line.size() != 2 * count + MinimumLineLength)
        return HexLineError::Length;

    unsigned sum = 0;
    for (qsizetype position = 2; position < line.size(); position += 2)
        sum += ByteAt(line, position);
    if ((sum & 0xFF) != 0)
        return HexLineError::Checksum;

    switch (HexRecordType(ByteAt(line, 8))) {
    case HexRecordType::Data: {
        const quint64 start = quint64(state.segmentBase) + HexField(line, 4, 4);
        std::array<quint8, 255> data{};
        for (int i = 0; i < count; ++i)
            data[std::size_t(i)] = ByteAt(line, 10 + 2 * i);
        if (!image.store(start, data.data(), std::size_t(count)))
            return HexLineError::Address;
        state.bytesLoaded += quint32(count);
        break;
    }
    case HexRecordType::ExtendedSegmentAddress:
    case HexRecordType::ExtendedLinearAddress: {
        // The base is the record's only two bytes; with any other count the
        // digits at 10 … 13 would be data or checksum, and a base read from
        // them would put every following record in the wrong place.
        if (count != 2)
            return HexLineError::Length;
        const quint32 value = HexField(line, 10, 4);
        state.segmentBase =
            HexRecordType(ByteAt(line, 8)) == HexRecordType::ExtendedSegmentAddress ? value * 16 : value * 65536;
        break;
    }
    default: break;
    }
    return HexLineError::None;
}

QString HexLineErrorMessage(HexLineError error, quint32 lineNumber)
{
    QString text;
    switch (error) {
    case HexLineError::None: return {};
    case HexLineError::Length: text = QStringLiteral("Length error - Line "); break;
    case HexLineError::StartingCharacter: text = QStringLiteral("Invalid starting character - Line "); break;
    case HexLineError::Checksum: text = QStringLiteral("Checksum error - Line "); break;
    case HexLineError::Address: text = QStringLiteral("Address error - Line "); break;
    }
    return text + NumberText(qint64(lineNumber));
}

} // namespace chronel
