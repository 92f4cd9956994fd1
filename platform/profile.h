#pragma once
// Private-profile (INI) files with the semantics the adapter tools rely on:
// sections and keys compare case-insensitively, keys are taken literally
// (a key such as "COM:" stays "COM:"), integers are the leading decimal number
// of the value, and a write keeps every other line and comment of the file.
#include <QString>

namespace platform {

class PrivateProfile {
public:
    // Integer value of [section] key: the leading (optionally signed) decimal
    // number of the text; `defaultValue` when the key or section is missing,
    // 0 when the text does not start with a number.
    static int getInt(const QString& file, const QString& section, const QString& key, int defaultValue);
    // Text value of [section] key, `defaultValue` when missing.
    static QString getString(const QString& file, const QString& section, const QString& key,
                             const QString& defaultValue = QString());
    // Writes [section] key=value, creating the file, section or key as needed
    // and leaving every other line as it was. Returns false when the file
    // cannot be written; the old file is then left intact.
    static bool writeString(const QString& file, const QString& section, const QString& key, const QString& value);
};

// Where PLCDRV.INI lives. Reading: $PLCDRV_INI when set, else the first that
// exists of $XDG_CONFIG_HOME/PLCDRV.INI (default ~/.config) and PLCDRV.INI in
// each of $XDG_CONFIG_DIRS (default /etc/xdg); when none exists, the user file.
QString plcdrvIniReadPath();
// Writing: $PLCDRV_INI when set, else $XDG_CONFIG_HOME/PLCDRV.INI.
QString plcdrvIniWritePath();

} // namespace platform
