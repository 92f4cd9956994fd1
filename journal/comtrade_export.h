#pragma once
// A period of the site journal as a COMTRADE record: one status channel per
// point of each module that changed in the period, named from the module's
// point table, a sample at each change, times in UTC. Only rows whose
// module's zone is declared have a UTC time; a period is therefore given in
// UTC, and a record whose rows came from clocks not known to be good says so
// in its time-quality code. chronel-cli's journal --format comtrade and the
// window's Export COMTRADE both write it here, so the two give the same files.
#include "comtrade.h"
#include "journal_event.h"
#include "journal_query.h"
#include "journal_store.h"

#include <QString>

#include <optional>

namespace chronel {

struct ComtradeExport {
    QString dir;     // where the .cfg and .dat go
    QString station; // the C37.232 station; empty: this computer's name
    QString device;  // the C37.232 device; empty: the filter's module, else "site journal"
    ComtradeFormat format = ComtradeFormat::Ascii;
};

// The state a point event's line ends with ("  On" 1, "  Off" 0).
std::optional<int> PointStateOfLine(const QString& line);

// The IEEE C37.118 time-quality code of a row's clock: 0 for a synchronised
// clock of good quality, 0xA (within 1 s) fair, 0xB (within 10 s) poor, 0xF
// (not reliable) bad, not synchronised or not known.
int TimeQualityCode(const JournalEvent& row);

// Whether the filter bounds a period in UTC at both ends, as a record needs.
bool HasUtcPeriod(const JournalFilter& filter);

// Writes the record of the rows `filter` selects (its UTC bounds are the
// period); false with `*error` in words when the period is not in UTC, the
// journal cannot be read or the files cannot be written.
bool ExportComtrade(const JournalStore& store, const JournalFilter& filter, const ComtradeExport& how,
    ComtradeFiles* files, int* changes, QString* error);

} // namespace chronel
