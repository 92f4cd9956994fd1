#include "frame_trace_printer.h"

#include "console.h"

namespace chronelcli {

QString TraceLine(const QTime& when, const regaccess::TraceFrame& frame)
{
    using regaccess::TraceDirection;
    const char* mark = frame.direction == TraceDirection::Request ? ">"
        : frame.direction == TraceDirection::Reply                ? "<"
                                                                  : "!";
    QString line = when.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ') + QLatin1String(mark);
    if (frame.direction != TraceDirection::Failure && frame.transport != regaccess::TransportKind::Driver)
        line += QLatin1Char(' ') + QLatin1String(regaccess::transportName(frame.transport));
    else
        // Numbered as DRVSETUP and the control number them (0 … 7); the
        // driver's packets and PLCDRV.INI's sections count from 1.
        line += QStringLiteral(" adapter %1").arg(frame.adapter - 1);
    line += QStringLiteral(" unit %1:").arg(frame.unit);
    if (frame.direction == TraceDirection::Failure)
        return line + QStringLiteral(" error %1").arg(frame.errorCode);
    for (const std::uint8_t byte : frame.pdu)
        line += QStringLiteral(" %1").arg(uint(byte), 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

void InstallFrameTracePrinter(Console& console)
{
    regaccess::setFrameObserver([&console](const regaccess::TraceFrame& frame) {
        ConsoleOfThisThread(console).trace(TraceLine(QTime::currentTime(), frame));
    });
}

} // namespace chronelcli
