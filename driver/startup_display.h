#pragma once
// What the driver shows while it starts one adapter: a caption and a status
// line. The display exists for the duration of that one start; destroying it
// removes it from the screen.
#include <QString>

#include <functional>
#include <memory>

namespace plcdrv {

class StartupDisplay {
public:
    virtual ~StartupDisplay() = default;
    virtual void setCaption(const QString& caption) = 0;
    virtual void setStatusText(const QString& text) = 0;
};

// Creates the display for one adapter start, or returns null when nothing
// can be shown.
using StartupDisplayFactory = std::function<std::unique_ptr<StartupDisplay>()>;

// The status window, on the GUI thread of a widget application; no display
// at all without one (command-line hosts, tests, worker threads).
StartupDisplayFactory StatusWindowFactory();

} // namespace plcdrv
