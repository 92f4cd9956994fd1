#include "web/web_request.h"

#include <QJsonObject>

namespace chronel {

WebResponse WebResponse::json(const QJsonDocument& document, int status)
{
    WebResponse response;
    response.status = status;
    response.body = document.toJson(QJsonDocument::Compact);
    return response;
}

WebResponse WebResponse::error(int status, const QString& words)
{
    return json(QJsonDocument(QJsonObject{{QStringLiteral("error"), words}}), status);
}

} // namespace chronel
