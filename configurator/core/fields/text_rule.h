#pragma once
// Texts in module registers: two characters per register, the first character
// of each pair in the low byte, a fixed number of characters per setting and
// zero bytes after the end of the text. Characters are single-byte Latin-1
// codes; a character outside Latin-1 is sent as '?'.
#include <QString>
#include <QStringView>
#include <span>

namespace chronel {

// Byte n of a block of register words: the low byte of word n / 2 for even n,
// its high byte for odd n.
quint8 RegisterByte(std::span<const qint16> block, int byteIndex);
void SetRegisterByte(std::span<qint16> block, int byteIndex, quint8 value);

// Writes `text` into `chars` bytes of `block` from byte `byteOffset` on: the
// text is stripped of leading and trailing blanks, cut to `chars` characters
// and padded with zero bytes. Bytes outside the block are never touched.
void WriteRegisterText(std::span<qint16> block, int byteOffset, int chars, QStringView text);

// Reads the text of `chars` bytes from byte `byteOffset` on: the characters up
// to the first zero byte (or all of them), trailing blanks removed. Bytes
// outside the block count as zero bytes.
QString ReadRegisterText(std::span<const qint16> block, int byteOffset, int chars);

} // namespace chronel
