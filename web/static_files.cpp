#include "web/static_files.h"

#include "platform/safe_file.h"

#include <QDir>
#include <QFileInfo>

namespace chronel {

namespace {

WebResponse NotFound() { return WebResponse::error(404, QStringLiteral("no such file")); }

WebResponse FileAnswer(const QString& file, const QString& name)
{
    const platform::SmallFile read = platform::ReadSmallFile(file, StaticFiles::SizeLimit);
    if (read.status != platform::SmallFile::Status::Read)
        return NotFound();
    WebResponse response;
    response.contentType = StaticFiles::contentType(name);
    response.body = read.bytes;
    return response;
}

} // namespace

StaticFiles::StaticFiles(QString root, QString chartJs) : root_(std::move(root)), chartJs_(std::move(chartJs)) { }

QByteArray StaticFiles::contentType(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"html")
        return "text/html; charset=utf-8";
    if (suffix == u"js" || suffix == u"mjs")
        return "text/javascript; charset=utf-8";
    if (suffix == u"css")
        return "text/css; charset=utf-8";
    if (suffix == u"json" || suffix == u"map")
        return "application/json";
    if (suffix == u"svg")
        return "image/svg+xml";
    if (suffix == u"png")
        return "image/png";
    if (suffix == u"ico")
        return "image/x-icon";
    if (suffix == u"woff2")
        return "font/woff2";
    if (suffix == u"txt")
        return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

WebResponse StaticFiles::answer(const QString& path) const
{
    if (path == u"/js/chart.js")
        return FileAnswer(chartJs_, path);
    const QString relative = path == u"/" ? QStringLiteral("index.html") : path.mid(1);
    if (!path.startsWith(u'/') || relative.isEmpty() || relative.endsWith(u'/') || relative.contains(u'\\') ||
        relative.contains(QChar(0)))
        return NotFound();
    // No "." or ".." and no hidden file or folder.
    for (const QStringView segment : QStringView(relative).split(u'/')) {
        if (segment.isEmpty() || segment.startsWith(u'.'))
            return NotFound();
    }
    const QString root = QFileInfo(root_).canonicalFilePath();
    if (root.isEmpty())
        return NotFound();
    const QFileInfo file(QDir(root).filePath(relative));
    const QString real = file.canonicalFilePath();
    if (real.isEmpty() || !real.startsWith(root + u'/') || !QFileInfo(real).isFile())
        return NotFound();
    return FileAnswer(real, relative);
}

QString InstalledStaticRoot(const QString& programFolder)
{
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/chronel/web"));
}

} // namespace chronel
