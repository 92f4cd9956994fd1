#include "user_message.h"

namespace chronel {

void ShowMessageBox(const UserMessage& message)
{
    platform::MessageBox(message.title, message.text, message.icon, platform::MessageButtons::Ok);
}

MessageSink OrMessageBox(MessageSink sink)
{
    if (sink)
        return sink;
    return ShowMessageBox;
}

} // namespace chronel
