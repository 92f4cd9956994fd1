#pragma once
// "Run Time Statistics": task loading of the module's eight tasks, open
// sockets, dropped packets and the module's error list. Its being open
// (intRunTime) makes the event scan read the statistics block.
#include "core/live/live_data.h"

#include <QWidget>
#include <array>

class QLabel;

namespace chronel {

class RunTimeStatisticsWindow : public QWidget {
    Q_OBJECT
public:
    explicit RunTimeStatisticsWindow(LiveData& live, QWidget* parent = nullptr);

private:
    void refresh();

    LiveData& live_;
    std::array<QLabel*, statsblock::TaskCount> shares_{};
    QLabel* openSockets_ = nullptr;
    QLabel* droppedPackets_ = nullptr;
    std::array<QLabel*, statsblock::ErrorCount> errors_{};
};

} // namespace chronel
