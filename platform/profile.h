#pragma once
// Private-profile (INI) files with the semantics the adapter tools rely on:
// sections and keys compare case-insensitively, keys are taken literally
// (a key such as "COM:" stays "COM:"), integers are the leading decimal number
// of the value, and a write keeps every other line and comment of the file.
// Blanks around names and values are not part of them; a value in matching
// quotes loses the quotes; lines starting with ';' or '#' are comments; the
// first of duplicate sections or keys counts. LF and CR LF files are both
// read, and a write keeps the file's line ending.
#include <QString>

namespace platform {

class PrivateProfile {
public:
    // Integer value of [section] key: the leading (optionally signed) decimal
    // number of the text; `defaultValue` when the key or section is missing,
    // 0 when the text does not start with a number. An empty value counts as
    // missing. Numbers beyond int saturate.
    static int getInt(const QString& file, const QString& section, const QString& key, int defaultValue);
    // Text value of [section] key, `defaultValue` when missing.
    static QString getString(
        const QString& file, const QString& section, const QString& key, const QString& defaultValue = QString());
    // Writes [section] key=value, creating the file, section or key as needed
    // and leaving every other line as it was; missing directories are
    // created. The new file replaces the old one by a rename, so readers see
    // either the old or the new file. Returns false when the file cannot be
    // written, or when a name or value would not read back as written (empty
    // names, line breaks, ']' in a section, '=' in a key); the old file is
    // then left intact.
    static bool writeString(const QString& file, const QString& section, const QString& key, const QString& value);
};

// Where PLCDRV.INI lives. Reading: $PLCDRV_INI when set, else the first that
// exists of $XDG_CONFIG_HOME/PLCDRV.INI (default ~/.config) and PLCDRV.INI in
// each of $XDG_CONFIG_DIRS (default /etc/xdg); when none exists, the user file.
QString plcdrvIniReadPath();
// Writing: $PLCDRV_INI when set, else $XDG_CONFIG_HOME/PLCDRV.INI.
QString plcdrvIniWritePath();

} // namespace platform
