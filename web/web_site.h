#pragma once
// One request's answer, on a worker thread: the session its cookie names
// (while the account is as it was at login), then the API's routes under
// /api and the page's files elsewhere. No exception leaves it.
#include "web/sessions.h"
#include "web/static_files.h"
#include "web/web_router.h"

namespace chronel {

class WebSite {
public:
    WebSite(const WebRouter& router, const StaticFiles& files, Sessions& sessions);

    WebResponse answer(WebRequest request, WorkerContext& context) const;

private:
    WebResponse route(WebRequest& request, WorkerContext& context) const;

    const WebRouter& router_;
    const StaticFiles& files_;
    Sessions& sessions_;
};

} // namespace chronel
