#pragma once
// Messages the configurator's activities give the user: title, text and icon
// of a message box with an OK button. Activities hand them to a sink so that
// the window shows them as boxes and tests can read the texts.
#include "platform/message_box.h"

#include <QString>
#include <functional>

namespace chronel {

struct UserMessage {
    QString title;
    QString text;
    platform::MessageIcon icon = platform::MessageIcon::Critical;

    bool operator==(const UserMessage&) const = default;
};

using MessageSink = std::function<void(const UserMessage&)>;

// A modal message box with an OK button; on stderr without a GUI.
void ShowMessageBox(const UserMessage& message);

// `sink`, or ShowMessageBox when `sink` is empty.
MessageSink OrMessageBox(MessageSink sink);

} // namespace chronel
