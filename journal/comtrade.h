#pragma once
// Status channels of a period written out as a COMTRADE record (IEEE
// C37.111-2013), for the fault-record viewers a utility already has: a .cfg
// that names the channels and a .dat with one sample per change of state,
// each sample holding every channel. Status channels only; no analog ones.
//
// The samples are time-stamped, not evenly spaced (nrates 0): a sample at
// the period's start with the initial states, one at each change in the
// order given (changes in one millisecond are not merged), and one at the
// period's end with the final states, so a viewer shows the whole period.
//
// The cfg has no escape: commas and line breaks separate its fields, so a
// name's commas become ';' and its control characters spaces; text fields
// are cut to their length limits (UTF-8 bytes, at a character boundary).
// The files are named as IEEE C37.232 (COMNAME) says, see ComtradeFileName.
#include <QDateTime>
#include <QString>
#include <vector>

namespace chronel {

enum class ComtradeFormat { Ascii, Binary };

struct ComtradeChannel {
    QString name;        // ch_id, free text: at most 64 bytes are kept
    QString phase;       // ph, at most 2 bytes
    QString component;   // ccbm, the circuit component monitored, at most 64 bytes
    int normalState = 0; // y: 0 or 1
};

struct ComtradeChange {
    QDateTime utc;   // to the millisecond
    int channel = 0; // index into ComtradeRecording::channels
    int state = 0;   // 0 or 1
};

struct ComtradeRecording {
    QString station; // station_name (cfg line 1) and the C37.232 station identifier; not empty
    QString device;  // rec_dev_id (cfg line 1) and the C37.232 device identifier; not empty
    QString company; // the C37.232 company name; left out of the name when empty
    std::vector<ComtradeChannel> channels;
    std::vector<int> initialStates;      // each channel's state before the first change; missing ones are 0
    std::vector<ComtradeChange> changes; // in time order, all within [from, to]
    QDateTime from, to;                  // the period asked for
    double lineFrequency = 50;           // lf, Hz
    int timeQuality = 0;                 // tmq_code, 0 to 15 (0: clock locked)
    bool leapSecond = false;             // leapsec 1: a leap second was added within the record
};

struct ComtradeFiles {
    QString cfgPath, datPath;
};

// Writes <dir>/<ComtradeFileName>.cfg and .dat, each atomically, the .dat
// first: a viewer opens a record by its .cfg, which then finds its .dat
// whole. On failure returns false with *error naming what failed and why,
// and a .dat already written is removed again.
bool WriteComtrade(
    const ComtradeRecording& recording, const QString& dir, ComtradeFormat format, ComtradeFiles* out, QString* error);

// The C37.232 name, without extension:
// YYMMDD,HHMMSSmmm,0,station,device[,company] from the period's start in
// UTC (time code 0); each text field cut to 64 bytes, with characters that
// file names or the comma-separated fields cannot hold (, . / \ : * ? " <
// > | controls, spaces) as '_'. Empty when `from` is not a valid time.
QString ComtradeFileName(const ComtradeRecording& recording);

} // namespace chronel
