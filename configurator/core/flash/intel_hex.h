#pragma once
// The Intel HEX line parser of the flash loader: one text line of a firmware
// file checked and, for a data record, stored into the flash image.
//
// A line is ":" count(2) address(4) type(2) data(2 × count) checksum(2), hex
// digits upper or lower case. The parser checks, in this order, that the
// line has at least 11 characters, that it starts with ":", that its length
// is 2 × count + 11 and that all its bytes after the colon sum to 0 modulo
// 256. A character that is not a hex digit counts as 0 and is left for the
// checksum to catch.
//
// Records: 0 data (stored at base + address), 2 extended segment address
// (base := value × 16), 4 extended linear address (base := value × 65536);
// every other type (end of file, start addresses) is ignored and reading
// goes on.
#include "flash_image.h"

#include <QByteArrayView>
#include <QString>

namespace chronel {

enum class HexLineError {
    None,
    Length,            // too short, or the length disagrees with the count
    StartingCharacter, // no ":" in front
    Checksum,
    Address, // data that would fall beyond the image's last position
};

enum class HexRecordType : quint8 {
    Data = 0,
    EndOfFile = 1,
    ExtendedSegmentAddress = 2,
    StartSegmentAddress = 3,
    ExtendedLinearAddress = 4,
    StartLinearAddress = 5,
};

// What the lines of one load share; a new load starts from a fresh state.
struct HexLoadState {
    quint32 segmentBase = 0;
    quint32 bytesLoaded = 0;
};

// The longest record: ":" and two digits for each byte of count, address
// (two), type, 255 data bytes and checksum. A longer line is no record.
constexpr qsizetype MaxHexLineLength = 1 + 2 * (1 + 2 + 1 + 255 + 1);

// 0 … 15 for "0" … "9", "A" … "F", "a" … "f"; 0 for any other character.
int HexDigitValue(char c);

// Parses `line` (without its line end). On success a data record's bytes are
// in `image` and counted in `state`; an address record changes the base. On
// an error nothing is stored and the state is unchanged.
HexLineError ParseHexLine(QByteArrayView line, HexLoadState& state, FlashImage& image);

// The status line for an error on line `lineNumber` (counted from 1), e.g.
// "Checksum error - Line  1"; empty for HexLineError::None.
QString HexLineErrorMessage(HexLineError error, quint32 lineNumber);

} // namespace chronel
