#include "failure_report.h"

#include "core/events/event_scan.h"
#include "platform/error_code.h"
#include "platform/socket_errors.h"

namespace chronelcli {

QString OpenFileLimitAdvice()
{
    return QStringLiteral("Raise the open-file limit (ulimit -n; LimitNOFILE= for a service) or give fewer --jobs.");
}

QString CommunicationFailureLine(const QString& module, platform::ErrorCode code)
{
    const QString line = QStringLiteral("chronel-cli: %1: %2 (%3)")
                             .arg(module, platform::errorText(code), chronel::EventScan::ErrorMessage(code).trimmed());
    return platform::errorNumber(code) == platform::WSAEMFILE ? line + QLatin1Char(' ') + OpenFileLimitAdvice() : line;
}

QString FileFailureLine(const QString& what, const QString& windowText)
{
    return QStringLiteral("chronel-cli: %1 (%2)").arg(what, windowText);
}

} // namespace chronelcli
