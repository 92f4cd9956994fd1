#include "text_rule.h"

namespace chronel {

namespace {

bool InBlock(std::size_t words, int byteIndex) { return byteIndex >= 0 && std::size_t(byteIndex) < 2 * words; }

} // namespace

quint8 RegisterByte(std::span<const qint16> block, int byteIndex)
{
    if (!InBlock(block.size(), byteIndex))
        return 0;
    const auto word = quint16(block[std::size_t(byteIndex / 2)]);
    return quint8(byteIndex % 2 == 0 ? word & 0xFF : word >> 8);
}

void SetRegisterByte(std::span<qint16> block, int byteIndex, quint8 value)
{
    if (!InBlock(block.size(), byteIndex))
        return;
    auto& slot = block[std::size_t(byteIndex / 2)];
    auto word = quint16(slot);
    if (byteIndex % 2 == 0)
        word = quint16((word & 0xFF00) | value);
    else
        word = quint16((word & 0x00FF) | (quint16(value) << 8));
    slot = qint16(word);
}

void WriteRegisterText(std::span<qint16> block, int byteOffset, int chars, QStringView text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    const QStringView stripped = text.sliced(first, last - first);

    for (int i = 0; i < chars; ++i) {
        quint8 byte = 0;
        if (i < stripped.size()) {
            const char16_t c = stripped[i].unicode();
            byte = c <= 0xFF ? quint8(c) : quint8('?');
        }
        SetRegisterByte(block, byteOffset + i, byte);
    }
}

QString ReadRegisterText(std::span<const qint16> block, int byteOffset, int chars)
{
    QString text;
    for (int i = 0; i < chars; ++i) {
        const quint8 byte = RegisterByte(block, byteOffset + i);
        if (byte == 0)
            break;
        text += QChar(char16_t(byte));
    }
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

} // namespace chronel
