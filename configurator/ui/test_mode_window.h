#pragma once
// "Test Mode": switches the module between normal and test mode and sends the
// 32 simulated inputs, through the window's own channel modTestMode. The mode
// buttons follow the module's test-mode word as the event scan reads it
// (intTestMode makes it read the statistics block while this window is open).
#include "core/link/channel_set.h"
#include "core/live/live_data.h"
#include "core/live/test_mode.h"

#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QPushButton;

namespace chronel {

class TestModeWindow : public QWidget {
    Q_OBJECT
public:
    // `factory` creates the window's own control; `host` gives GetIp.
    TestModeWindow(
        LiveData& live, const ControlFactory& factory, std::function<QString()> host, QWidget* parent = nullptr);
    ~TestModeWindow() override;

    Channel& modTestMode() { return *channel_; }

private:
    void refresh();
    TestInputs boxes() const;

    LiveData& live_;
    std::unique_ptr<Channel> channel_;
    std::unique_ptr<TestModeCommands> commands_;
    QPushButton* normal_ = nullptr;
    QPushButton* test_ = nullptr;
    std::array<QCheckBox*, TestInputCount> data_{};
};

} // namespace chronel
