#pragma once
// The page's own files: index.html, app.js, app.css and whatever else lies
// in the static folder (share/chronel/web once installed), and /js/chart.js
// from Debian's libjs-chart.js. Only regular files that lie under the
// folder once every link is followed are served: no "..", no hidden file,
// no link out of it.
#include "web/web_request.h"

#include <QString>

namespace chronel {

inline const QString DebianChartJs = QStringLiteral("/usr/share/javascript/chart.js/chart.min.js");

class StaticFiles {
public:
    // A static file is no larger than this.
    static constexpr qint64 SizeLimit = 8 * 1024 * 1024;

    explicit StaticFiles(QString root, QString chartJs = DebianChartJs);

    // The answer to a GET of `path` (a decoded request path): the file, or
    // 404 when there is no such file to serve.
    WebResponse answer(const QString& path) const;

    // The content type a file's name stands for.
    static QByteArray contentType(const QString& fileName);

private:
    QString root_;
    QString chartJs_;
};

// The folder the installed program finds its page in: share/chronel/web
// beside its bin folder.
QString InstalledStaticRoot(const QString& programFolder);

} // namespace chronel
