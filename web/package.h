#pragma once
// An incident's package, one zip a browser downloads
// (GET /api/incidents/ID/package), for whoever investigates it away from
// the site:
//   events.csv     the rows of the incident's period and modules in the
//                  journal's csv (journal_format.h), in the journal's order
//   comtrade/      a COMTRADE record (.cfg, .dat) per module whose zone is
//                  declared (comtrade_export.h): a record holds UTC times
//   summary.html   the incident, its first event, the sequence, the clocks
//                  the modules ran on and who commented what; every text
//                  escaped, and a page that runs no script whatever it holds
#include "journal/journal_incidents.h"
#include "journal/journal_store.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace chronel {

// Rows a package holds; a period with more is cut there, and its summary
// says so.
constexpr int MaxPackageRows = 100000;
// Rows the summary's sequence lists (events.csv has them all).
constexpr int MaxSummaryRows = 2000;

// The zip; nothing with `*error` in words when the journal cannot be read
// or the incident's period is not one.
std::optional<QByteArray> IncidentPackage(const JournalStore& store, const Incident& incident,
    const QList<Comment>& comments, const QDateTime& now, QString* error);

// "incident-ID.zip"
QString IncidentPackageName(qint64 id);

} // namespace chronel
