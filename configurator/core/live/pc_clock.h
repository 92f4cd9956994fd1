#pragma once
// The PC's own clock beside the module's on the Time Setup tab, refreshed by
// the one-second timer tmrTs1SecondTimer (always running).
#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace chronel {

class PcClock : public QObject {
    Q_OBJECT
public:
    static constexpr int IntervalMs = 1000;

    // `now` stands in for the system clock (tests); empty means the system clock.
    explicit PcClock(
        std::function<QDateTime()> now = {}, const QLocale& locale = QLocale::system(), QObject* parent = nullptr);

    QString timeText() const { return time_; } // lblTsTsPcTime, "h:mm:ss"
    QString dateText() const { return date_; } // lblTsTsPcData, locale short date
    const QTimer& timer() const { return timer_; }

    // One tick of the timer.
    void tick();

signals:
    void changed();

private:
    std::function<QDateTime()> now_;
    QLocale locale_;
    QTimer timer_;
    QString time_;
    QString date_;
};

} // namespace chronel
