#pragma once
// The timing chart of a site journal: one row per point, its state over time
// as a high (On) and low (Off) trace with a tick at each event, under a time
// axis, and "no data" before the first event collected from the point's
// module; the mouse wheel zooms about the pointer (+ and - keys about the
// middle), dragging or the arrow keys pan, Home shows the whole span, and a
// vertical cursor reads the time under the pointer. The picture engineers
// draw by hand after a trip, drawn with QPainter from TraceSegments and a
// TimeAxis.
#include "time_axis.h"
#include "timing_trace.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <optional>

namespace chronel {

struct ChartTrace {
    // The two lines of the trace's label: its module ("Feeder 1  192.168.16.141")
    // and its point ("5 52 breaker").
    QString module;
    QString label;
    // What the point's module calls its states ("Tripped", "Normal"); the
    // cursor reads them, "On" and "Off" when empty.
    QString onText;
    QString offText;
    // The module time of the module's first collected event: before it the
    // trace shows "no data". Nothing when unknown.
    std::optional<qint64> dataFrom;
    // In time order.
    QList<TraceEvent> events;
};

class TimingChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int LabelWidth = 270;
    static constexpr int RowHeight = 40;
    static constexpr int TopMargin = 22;
    static constexpr int AxisHeight = 30;
    static constexpr double WheelZoom = 1.25; // per notch

    explicit TimingChart(QWidget* parent = nullptr);

    // Replaces the traces, over the span [from, to); with `keepView` the view
    // stays where it is (new rows arriving), otherwise it shows the span.
    void setTraces(QList<ChartTrace> traces, qint64 from, qint64 to, bool keepView = false);
    const QList<ChartTrace>& traces() const { return traces_; }
    const QList<TraceSegment>& segments(int trace) const { return segments_.at(trace); }

    const TimeAxis& axis() const { return axis_; }
    void zoomIn();
    void zoomOut();
    void showAll();
    // Where the view starts, as a share of the span, and the share it shows:
    // what a scroll bar needs.
    double viewPosition() const;
    double viewShare() const;
    void setViewPosition(double share);

    // Geometry, for the painting and for tests: the plot's left edge, the
    // y of a trace's high (On) and low (Off) lines.
    int plotLeft() const { return LabelWidth; }
    int highY(int trace) const { return TopMargin + trace * RowHeight + 6; }
    int lowY(int trace) const { return TopMargin + trace * RowHeight + RowHeight - 10; }
    // The cursor's time, while the pointer is over the plot.
    std::optional<qint64> cursorTime() const;
    // What the cursor reads for a trace: its state under the cursor in the
    // module's words ("Tripped", "no data"); empty without a cursor.
    QString cursorReading(int trace) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int plotWidth() const;
    void paintAxis(QPainter& p, const QList<TimeAxis::Tick>& ticks, int plotBottom);
    void paintTrace(QPainter& p, int trace);
    void paintCursor(QPainter& p, int plotBottom);

    QList<ChartTrace> traces_;
    QList<QList<TraceSegment>> segments_;
    TimeAxis axis_;
    std::optional<int> cursorX_;
    std::optional<int> dragX_;
};

} // namespace chronel
