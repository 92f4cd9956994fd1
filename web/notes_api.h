#pragma once
// Incidents, comments and the audit record:
//   GET  /api/incidents                 (viewer) [{"id","title","from","to","modules","comment","author",
//                                                  "created","comments"}], newest first
//   POST /api/incidents                 (engineer) {"title","from","to","modules","comment"} → {"id"}
//   GET  /api/incidents/ID              (viewer) the incident and "commentList":[{"id","author","text","created"}]
//   POST /api/incidents/ID/comments     (engineer) {"text"} → {"id"}
//   GET  /api/events/ID/comments        (viewer) [{"id","author","text","created"}]
//   POST /api/events/ID/comments        (engineer) {"text"} → {"id"}
//   GET  /api/incidents/ID/package      (viewer) application/zip, incident-ID.zip (package.h)
//   GET  /api/audit                     (admin) the last 500 audit rows, oldest first
// A body is a JSON object of exactly these keys; a key of another name or
// type, a text beyond its limit or a period that is none is refused (400)
// with the field's name. Every addition is audited with the user and the
// client's address in its own transaction (journal_incidents.h).
#include "web/web_router.h"

namespace chronel {

constexpr int MaxIncidentModules = 64;
constexpr int AuditRowsShown = 500;

void AddNotesApi(WebRouter& router);

} // namespace chronel
