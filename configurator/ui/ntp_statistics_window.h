#pragma once
// "NTP Statistics": the NTP requests the module counted in each hour of the
// day, txtNtpCount(0 … 23) beside "12:00 Midnight" … "11:00 PM". While it is
// open the event scan reads the statistics block, so the counts refresh.
#include "core/live/live_data.h"

#include <QWidget>
#include <array>

class QLineEdit;

namespace chronel {

class NtpStatisticsWindow : public QWidget {
    Q_OBJECT
public:
    explicit NtpStatisticsWindow(LiveData& live, QWidget* parent = nullptr);

    QLineEdit* count(int hour) const { return counts_[std::size_t(hour)]; }

private:
    void refresh();

    LiveData& live_;
    std::array<QLineEdit*, statsblock::NtpHourWords> counts_{};
};

} // namespace chronel
