#pragma once
// The journal's routes (viewer and up):
//   GET /api/modules   [{"module","name"}]
//   GET /api/points    ?module=  [{"point","description"}]
//   GET /api/rows      ?from&to&module&point&grep&sort&desc&offset&limit
//                      {"rows":[ROW],"total","order","more","lastId"}
//   GET /api/live      ?after&from&to&module&point&grep  text/event-stream
//   GET /api/chart     ?from&to&series=MODULE:POINT,... (or module&point)
// ROW and the filter: journal_rows.h; the live stream: live_feed.h. A page's
// lastId is the journal's last row id before the page was read, so a live
// stream opened after it misses nothing (and may repeat a row the page has:
// the page keeps a row once, by its id).
#include "live_feed.h"
#include "web/web_router.h"

#include <QString>

namespace chronel {

void AddJournalApi(WebRouter& router, LiveFeed& feed);

// The answer to a journal that failed a query: 500 in general words; what
// failed goes to the log, where the operator reads it.
WebResponse JournalFailure(const QString& error);

} // namespace chronel
