#pragma once
// Modal message boxes for the libraries and programs. Without a GUI
// application (command-line tools, tests) the text goes to stderr and the
// call returns the default answer at once: the first button (Ok for Ok and
// OkCancel, Yes for YesNo and YesNoCancel), the one Enter would press. The
// same happens on any thread other than the GUI thread, which may not create
// widgets.
#include <QString>

namespace platform {

enum class MessageIcon { Information, Warning, Critical, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

MessageAnswer MessageBox(const QString& title, const QString& text, MessageIcon icon = MessageIcon::Information,
    MessageButtons buttons = MessageButtons::Ok);

// Where the texts go when no box can be shown, instead of stderr: a program
// that draws on the terminal itself writes them between its own lines. Set
// before any other thread may show a message; empty restores stderr.
using MessageFallback = void (*)(const QString& title, const QString& text);
void SetMessageFallback(MessageFallback fallback);

} // namespace platform
