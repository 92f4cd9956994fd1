// The message box itself, in the widget plugin that messageBox() opens on
// the GUI thread of a widget application.
#include "platform/message_box.h"

#include <QMessageBox>

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

extern "C" MessageAnswer platform_message_box(
    const QString& title, const QString& text, MessageIcon icon, MessageButtons buttons)
{
    QMessageBox::Icon qtIcon = QMessageBox::Information;
    switch (icon) {
    case MessageIcon::Information: qtIcon = QMessageBox::Information; break;
    case MessageIcon::Warning: qtIcon = QMessageBox::Warning; break;
    case MessageIcon::Critical: qtIcon = QMessageBox::Critical; break;
    case MessageIcon::Question: qtIcon = QMessageBox::Question; break;
    }

    QMessageBox::StandardButtons qtButtons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
    switch (buttons) {
    case MessageButtons::Ok: qtButtons = QMessageBox::Ok; break;
    case MessageButtons::OkCancel: qtButtons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MessageButtons::YesNo:
        qtButtons = QMessageBox::Yes | QMessageBox::No;
        defaultButton = QMessageBox::Yes;
        break;
    case MessageButtons::YesNoCancel:
        qtButtons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        defaultButton = QMessageBox::Yes;
        break;
    }

    QMessageBox box(qtIcon, title, text, qtButtons);
    box.setDefaultButton(defaultButton);
    switch (box.exec()) {
    case QMessageBox::Ok: return MessageAnswer::Ok;
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    default: break;
    }
    // Closed with the window's close button or Escape: whatever a user
    // would expect from dismissing the question.
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    if (buttons == MessageButtons::YesNo)
        return MessageAnswer::No;
    return MessageAnswer::Cancel;
}
