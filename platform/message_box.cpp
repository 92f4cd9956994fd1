#include "platform/message_box.h"

#include "platform/widget_plugin.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

// Without a user to ask, the answer is the button a user would get by
// pressing Enter: the first one (Ok or Yes).
MessageAnswer DefaultAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel: return MessageAnswer::Yes;
    case MessageButtons::Ok:
    case MessageButtons::OkCancel: break;
    }
    return MessageAnswer::Ok;
}

std::atomic<MessageFallback> fallbackWriter{nullptr};

} // namespace

void SetMessageFallback(MessageFallback fallback) { fallbackWriter = fallback; }

MessageAnswer MessageBox(const QString& title, const QString& text, MessageIcon icon, MessageButtons buttons)
{
    // Widgets may only be created on the GUI thread; a worker that must
    // report something, or a host without widgets, falls back to stderr
    // rather than block on the GUI.
    using Show = MessageAnswer (*)(const QString&, const QString&, MessageIcon, MessageButtons);
    if (auto show = reinterpret_cast<Show>(WidgetPluginSymbol("chronel_platform_widgets", "platform_message_box")))
        return show(title, text, icon, buttons);
    if (const MessageFallback fallback = fallbackWriter.load()) {
        fallback(title, text);
        return DefaultAnswer(buttons);
    }
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stderr);
    return DefaultAnswer(buttons);
}

} // namespace platform
