#pragma once
// The time↔pixel mapping of a timing chart: which module times (JournalTimeMs)
// a plot `width` pixels wide shows, zoomed and panned within the span the
// data covers, and where its axis gets labels. No widgets.
#include <QList>
#include <QString>
#include <QtGlobal>

namespace chronel {

class TimeAxis {
public:
    // The deepest zoom: one millisecond is 50 pixels.
    static constexpr double MinMsPerPixel = 0.02;

    // The span the view stays within; a view already set is kept where it
    // fits. An empty span is widened to one millisecond.
    void setSpan(qint64 from, qint64 to);
    // The plot's width; the view keeps the times it shows, within the
    // deepest zoom.
    void setWidth(int pixels);
    // The view shows the whole span.
    void showAll();

    qint64 spanFrom() const { return from_; }
    qint64 spanTo() const { return to_; }
    int width() const { return width_; }
    double viewStart() const { return start_; }
    double viewEnd() const { return start_ + width_ * msPerPixel_; }
    double msPerPixel() const { return msPerPixel_; }

    double toX(double ms) const { return (ms - start_) / msPerPixel_; }
    double toMs(double x) const { return start_ + x * msPerPixel_; }

    // Zooms by `factor` (above 1 closer, below 1 farther), keeping the time
    // at pixel `anchorX` under it as far as the span allows.
    void zoom(double factor, double anchorX);
    // Moves the view by `pixels`; positive shows later times.
    void scroll(double pixels);
    // Puts the view's start at `ms`, within the span.
    void setViewStart(double ms);

    struct Tick {
        qint64 ms;
        QString label;
    };
    // The times in the view that get a label, at least `minSpacing` pixels
    // apart, on round steps (1, 2, 5 … ms, s, min, h, days). Labels carry
    // what the step needs: "HH:mm:ss.zzz", "HH:mm:ss", "HH:mm" or the date.
    QList<Tick> ticks(int minSpacing) const;
    // The step ticks() uses, in milliseconds.
    qint64 tickStep(int minSpacing) const;

private:
    double maxMsPerPixel() const;
    void clamp();

    qint64 from_ = 0;
    qint64 to_ = 1;
    int width_ = 1;
    double start_ = 0;
    double msPerPixel_ = 1;
};

} // namespace chronel
