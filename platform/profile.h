#pragma once
// Private-profile (INI) files with the semantics the adapter tools rely on:
// sections and keys compare case-insensitively, keys are taken literally
// (a key such as "COM:" stays "COM:"), integers are the leading decimal number
// of the value, and a write keeps every other line and comment of the file.
// Blanks around names and values are not part of them; a value in matching
// quotes loses the quotes; lines starting with ';' or '#' are comments; the
// first of duplicate sections or keys counts. LF and CR LF files are both
// read, and a write keeps the file's line ending. Every call reads the file
// anew, as Windows does; a file that is not a regular one or is larger than
// SmallFileLimit (safe_file.h) is not read and counts as unreadable.
#include <QString>

namespace platform {

// Why a file could not be read, for the message of whoever finds its
// values missing.
struct ProfileReadFailure {
    QString file;        // empty: the last read succeeded or found no file
    QString reason;      // "Too many open files", "not a regular file", …
    int systemError = 0; // errno, when the system gave one
};

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

    // The outcome of this thread's last read of any file by the calls above
    // (each call reads once): whether an unreadable file lies behind the
    // defaults it returned.
    static ProfileReadFailure lastReadFailure();
};

// Where PLCDRV.INI lives. Reading: $PLCDRV_INI when set, else the first that
// exists of $XDG_CONFIG_HOME/PLCDRV.INI (default ~/.config) and PLCDRV.INI in
// each of $XDG_CONFIG_DIRS (default /etc/xdg); when none exists, the user file.
QString PlcdrvIniReadPath();
// Writing: $PLCDRV_INI when set, else $XDG_CONFIG_HOME/PLCDRV.INI.
QString PlcdrvIniWritePath();

} // namespace platform
