#pragma once
// The module's configuration registers and how they meet the screen: the
// configuration block, the Module ID and the point blocks (addresses and
// sizes in module_map.h).
#include "core/fields/field_clamp.h"
#include "core/fields/number_rule.h"
#include "module_map.h"
#include "module_settings.h"
#include "point_table.h"

#include <QList>
#include <QString>
#include <array>
#include <span>

namespace chronel {

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

// The block index of a first register, -1 when `reg` starts no point block.
int PointBlockIndex(int reg);

// Upload of one point block into the table; false (table untouched) when
// `firstRegister` starts no point block.
bool PointBlockToTable(int firstRegister, const PointBlock& words, PointTable& table);
// Download of one point block from the table; false (words untouched) when
// `firstRegister` starts no point block.
bool TableToPointBlock(int firstRegister, const PointTable& table, PointBlock& words);

// Display-only fields.
QString MacText(std::span<const qint16, 6> words); // "00 : 0A : 1B : 2C : FF : 01"
QString VersionText(qint16 word);                  // 160 → "1.60", −5 → "-0.05"

} // namespace chronel
