#pragma once
// What the tool prints when a module or a file fails: what failed and why in
// words, then the text the window would show for it, so a script's log says
// enough to act on and still matches what a window user would report.
#include "platform/error_code.h"

#include <QString>

namespace chronelcli {

// "chronel-cli: 127.0.0.1:502: connection refused (Communications error #  10061)"
QString CommunicationFailureLine(const QString& module, platform::ErrorCode code);

// What to do when the process has no file descriptor left (EMFILE): each
// module of a run holds several (its connections, the journal's files).
QString OpenFileLimitAdvice();

// "chronel-cli: site.csv: No such file or directory (File Open Error)"
QString FileFailureLine(const QString& what, const QString& windowText);

} // namespace chronelcli
