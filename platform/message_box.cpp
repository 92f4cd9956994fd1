#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cstdio>

namespace platform {

namespace {

// Without a user to ask, the answer is the button a user would get by
// pressing Enter: the first one (Ok or Yes).
MessageAnswer defaultAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Yes;
    case MessageButtons::Ok:
    case MessageButtons::OkCancel:
        break;
    }
    return MessageAnswer::Ok;
}

bool canShowDialog()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    // Widgets may only be created on the GUI thread; a worker that must
    // report something falls back to stderr rather than block on the GUI.
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace

MessageAnswer messageBox(const QString& title, const QString& text, MessageIcon icon, MessageButtons buttons)
{
    if (!canShowDialog()) {
        std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        std::fflush(stderr);
        return defaultAnswer(buttons);
    }

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

} // namespace platform
