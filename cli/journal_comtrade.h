#pragma once
// A period of the site journal as a COMTRADE record: one status channel per
// point of each module that changed in the period, named from the module's
// point table, a sample at each change, times in UTC. Only rows whose
// module's zone is declared have a UTC time; a period is therefore given in
// UTC, and a record whose rows came from clocks not known to be good says so
// in its time-quality code.
#include "journal/comtrade.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QString>

#include <optional>

namespace chronelcli {

struct ComtradeExport {
    QString dir;     // where the .cfg and .dat go
    QString station; // the C37.232 station: --station, else this computer's name
    QString device;  // the C37.232 device: the module's name when one is asked for
    chronel::ComtradeFormat format = chronel::ComtradeFormat::Ascii;
};

// The state a point event's line ends with ("  On" 1, "  Off" 0).
std::optional<int> PointStateOfLine(const QString& line);

// The IEEE C37.118 time-quality code of a row's clock: 0 for a synchronised
// clock of good quality, 0xA (within 1 s) fair, 0xB (within 10 s) poor, 0xF
// (not reliable) bad, not synchronised or not known.
int TimeQualityCode(const chronel::JournalEvent& row);

// Writes the record of the rows `filter` selects (its UTC bounds are the
// period); false with `*error` in words when the period is not in UTC or
// the files cannot be written.
bool ExportComtrade(const chronel::JournalStore& store, const chronel::JournalFilter& filter, const ComtradeExport& how,
    chronel::ComtradeFiles* files, int* changes, QString* error);

} // namespace chronelcli
