#include "failure_report.h"

#include "core/events/event_scan.h"
#include "platform/error_code.h"

namespace chronelcli {

QString CommunicationFailureLine(const QString& module, int code)
{
    return QStringLiteral("chronel-cli: %1: %2 (%3)")
        .arg(module, platform::errorText(code), chronel::EventScan::ErrorMessage(code).trimmed());
}

QString FileFailureLine(const QString& what, const QString& windowText)
{
    return QStringLiteral("chronel-cli: %1 (%2)").arg(what, windowText);
}

} // namespace chronelcli
