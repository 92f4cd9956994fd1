#pragma once
// The small conversions every setting passes through between the screen, the
// module's registers and the settings file: range clamps, the folding of
// unsigned 16-bit values into signed register words, hexadecimal digits and
// the text/position tables of the serial-port lists.
#include <QString>
#include <QStringList>
#include <QStringView>

namespace chronel {

// value < low gives low, value > high gives high, otherwise value.
qint64 ClampToRange(qint64 value, qint64 low, qint64 high);

// Folds an unsigned 16-bit value into a register word: first clamped into
// 0 … 65535, then 32768 … 65535 become value − 65536.
qint16 ToRegisterWord(qint32 value);
// The inverse: a negative word gives word + 65536.
qint32 FromRegisterWord(qint16 word);

// Upper-case hexadecimal of `value` (a negative value as its four-digit two's
// complement) preceded by "0000"; the last `digits` characters of that text.
QString HexDigits(qint16 value, int digits);

// The lists of the "Modbus Serial" frame; a list's position is the code sent
// to the module.
const QStringList& BaudItems(); // the ten RS-485 rates; RS-232 uses the first seven
const QStringList& Baud232Items();
const QStringList& ParityItems();
const QStringList& ProtocolItems();
const QStringList& DstLocationItems();

// Text ↔ position of the serial lists, as the settings file stores them.
// Texts compare exactly; an unknown text or position falls back to the
// defaults "9600", "Even" and "RTU".
int BaudTextToIndex(QStringView text);
QString BaudIndexToText(int index);
int ParityTextToIndex(QStringView text);
QString ParityIndexToText(int index);
int ProtocolTextToIndex(QStringView text);
QString ProtocolIndexToText(int index);

} // namespace chronel
