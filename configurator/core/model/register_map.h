#pragma once
// The module's configuration registers and how they meet the screen. Register
// numbers are 1-based holding-register references (the channel's Address);
// word k of a block is the k-th register from the block's first.
//
//   1 … 100     configuration block (an upload reads 100 words, a download
//               writes words 0 … 59)
//   101         Module ID
//   301 … 1452  point blocks, 18 blocks of 64 registers
//   1491        download start register, written first with 0x55AA
#include "core/fields/field_clamp.h"
#include "module_settings.h"
#include "core/fields/number_rule.h"
#include "point_table.h"

#include <QList>
#include <QString>
#include <array>
#include <span>

namespace chronel {

constexpr int ConfigBlockRegister = 1;
constexpr int ConfigBlockReadWords = 100;
constexpr int ConfigBlockWriteWords = 60;
constexpr int ModuleIdRegister = 101;
constexpr int PointBlockWords = 64;
constexpr int PointBlockCount = 18;
constexpr int DownloadStartRegister = 1491;
constexpr qint16 DownloadStartCode = 0x55AA;

// "100 Mbps" is sent as 3; an upload shows both 2 and 3 as "100 Mbps", so a
// module that keeps either code shows its speed.
constexpr qint16 Speed100Code = 3;

using ConfigBlock = std::array<qint16, ConfigBlockReadWords>;
using ConfigWriteBlock = std::span<qint16, ConfigBlockWriteWords>;
using PointBlock = std::array<qint16, PointBlockWords>;

// Upload: sets every screen field that has an upload rule from words 0 … 99.
void ConfigBlockToSettings(const ConfigBlock& words, ModuleSettings& settings);

// Download: fills the words 0 … 59 that have a download rule and leaves the
// others ("not set") as they are, so they carry what the write buffer last
// held. A numeric field outside −32768 … 32767 is clamped; each clamp is
// returned so the caller can rewrite and mark the field.
QList<FieldClamp> SettingsToConfigBlock(const ModuleSettings& settings, ConfigWriteBlock words);

// Word indexes 0 … 59 that a download fills (the event buffer and speed words
// only while an option is chosen).
bool DownloadSetsWord(int wordIndex);

// Module ID, register 101, by the number rule both ways.
QString ModuleIdFromWord(qint16 word);
FieldNumber ModuleIdToWord(const QString& field);

// First register of point block b (0 … 17): 301 + 64 b.
constexpr int PointBlockRegister(int block) { return 301 + PointBlockWords * block; }
// The block index of a first register, -1 when `reg` starts no point block.
int PointBlockIndex(int reg);

// Upload of one point block into the table; false (table untouched) when
// `firstRegister` starts no point block.
bool PointBlockToTable(int firstRegister, const PointBlock& words, PointTable& table);
// Download of one point block from the table; false (words untouched) when
// `firstRegister` starts no point block.
bool TableToPointBlock(int firstRegister, const PointTable& table, PointBlock& words);

// Display-only fields.
QString MacText(std::span<const qint16, 6> words);  // "00 : 0A : 1B : 2C : FF : 01"
QString VersionText(qint16 word);                   // 160 → "1.60", −5 → "-0.05"

} // namespace chronel
