#pragma once
// The settings file: every stored setting of the main window and the whole
// point table as 51 comma-separated records, one per line, each line ended
// by CR LF, in the 8-bit character set. Each record begins with a fixed key;
// texts are written in double quotes, numbers bare in decimal.
//
//    1 "Module Name"        text           19 … 50 "Point  1" … "Point  32":
//    2 "PLC ID"             number                 disabled "True"/"False",
//    3 "Event Delay"        number                 filter, debounce, chatter,
//    4 "Sync Master"        "True"/"False"         description, off, on text
//    5 "Hour Time Update"   "True"/"False"      51 "IEEE 1344" "True"/"False"
//    6 "Modbus RS-232"      baud, parity, delay, protocol
//    7 "Modbus RS-485"      the same
//    8 "Event Buffer Type"  number 0 … 3
//    9 "TCP/IP Address"     "Manual", "Boot P" or "DHCP"
//   10 … 12 "IP Address", "Subnet Address", "Gateway Address": four numbers
//   13 "TCP/IP Speed"       "Auto"/"10"/"100", "Full"/"Half"
//   14 "Daylight Saving Time Location"  list position, -1 for none
//   15, 16 "Daylight Saving Time Start"/"Stop": month, day, hour
//   17, 18 "GPS Offset", "IRIG-B Offset"
//
// A record whose key is wrong is reported and skipped; the reading goes on.
// A file that ends early, a number field that holds no number, a list
// position outside the list (the DST location, an RS-232 rate above 19.2K)
// or a line too long to be a record stop the reading with "File Open Error";
// what was applied before stays applied.
//
// A double quote cannot stand inside a quoted text, nor a line break: saving
// writes an apostrophe for each double quote and a blank for each line-break
// character, and says so once.
//
// Texts starting with =, +, - or @ are written as they are, with no guard
// against a spreadsheet taking them for formulas: the file is the module's
// configuration, read back field for field. A guard character would become
// part of the module's text (one of its few characters) wherever the file
// is read, and stripping one on reading would change existing files whose
// texts begin with an apostrophe. Open such a file in a spreadsheet as text.
#include "core/model/chronel_model.h"
#include "core/model/module_settings.h"
#include "core/model/point_table.h"
#include "core/model/user_message.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

namespace chronel {

constexpr int SettingsRecordCount = 51;

inline QString FileOpenTitle() { return QStringLiteral("File Open"); }
inline QString FileSaveTitle() { return QStringLiteral("File Save"); }
inline QString FileOpenErrorText() { return QStringLiteral("File Open Error"); }
inline QString FileSaveErrorText() { return QStringLiteral("File Save Error"); }
// The file dialogs' filter as "description|pattern" pairs; the second entry
// is preselected.
inline QString SettingsFileFilter()
{
    return QStringLiteral("All Files (*.*)|*.*|Comma Delimited Files (*.csv)|*.csv");
}
constexpr int SettingsFileFilterIndex = 1; // 0-based: "Comma Delimited Files"

// The file's bytes for `settings` and `points`. `charactersReplaced` is set
// when a text held a character the file cannot hold.
QByteArray SettingsFileText(
    const ModuleSettings& settings, const PointTable& points, bool* charactersReplaced = nullptr);
// The warning shown once after such a replacement.
QString CharactersReplacedText();

struct SettingsReadResult {
    QStringList messages;      // key and value messages, in file order
    bool runTimeError = false; // reading stopped: "File Open Error"
    int recordsRead = 0;       // records read whole, checked or not
    // Where and why the reading stopped, for reports beyond the window's one
    // text: the line of the field it stopped at (from 1), the record (from 1)
    // and what was wrong there.
    int stopLine = 0;
    int stopRecord = 0;
    QString stopReason;
};

// "line 14, record 14 "Daylight Saving Time Location": "6" is not in the list"
QString SettingsReadStopText(const SettingsReadResult& result);

// Reads the records from `device` into `settings` and `points` in file order.
// `appliedControls` receives the screen controls whose values a record set
// (for clearing marks on them).
SettingsReadResult ReadSettingsFile(
    QIODevice& device, ModuleSettings& settings, PointTable& points, QStringList* appliedControls = nullptr);

// File > Save on the window's model: the rows on screen go into the table,
// then the file is written beside the old one and renamed over it only when
// complete, so a failed save leaves the old file as it was
// (platform::replaceFile; a symbolic link at `path` is replaced, never
// written through). Messages go to
// `sink`. True when the file was written; else `failure` (when given) names
// the file and the system's reason ("site.csv: Permission denied").
bool SaveSettingsFile(ChronelModel& model, const QString& path, const MessageSink& sink, QString* failure = nullptr);

// File > Open on the window's model: the rows on screen go into the table
// (so a record that fails keeps what the screen showed), the records are
// read, and the page shows the table again, after a stop too. Messages go
// to `sink`. True when every record was read (some may have been reported);
// else `failure` (when given) names the file and why: the system's reason
// when it cannot be opened, SettingsReadStopText when the reading stopped.
bool OpenSettingsFile(ChronelModel& model, const QString& path, const MessageSink& sink, QString* failure = nullptr);

} // namespace chronel
