#include "drvsetup/save_prompt.h"

#include "drvsetup/adapter_table.h"
#include "platform/message_box.h"

#include <QDir>

namespace drvsetup {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

CloseDecision ConfirmClose(const AdapterTable& table, const QString& sourcePath, const QString& targetPath)
{
    if (!table.changesApplied())
        return CloseDecision::Close;
    const MessageAnswer answer = platform::MessageBox(QStringLiteral("Arvenco Vexa32"),
        QStringLiteral("Save Vexa32 Changes"), MessageIcon::Question, MessageButtons::YesNoCancel);
    switch (answer) {
    case MessageAnswer::Yes: break;
    case MessageAnswer::No: return CloseDecision::Close;
    case MessageAnswer::Cancel:
    case MessageAnswer::Ok: return CloseDecision::Stay;
    }
    if (!table.writeAll(sourcePath, targetPath)) {
        platform::MessageBox(QStringLiteral("Arvenco, Vexa32"),
            QStringLiteral("The adapter settings could not be saved to %1").arg(QDir::toNativeSeparators(targetPath)),
            MessageIcon::Critical);
        return CloseDecision::Stay;
    }
    platform::MessageBox(QStringLiteral("Arvenco, Vexa32"),
        QStringLiteral("You Will Need To Re-Start Your Application"), MessageIcon::Warning);
    return CloseDecision::Close;
}

} // namespace drvsetup
