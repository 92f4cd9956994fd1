#include "timing_chart.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace chronel {

namespace {

constexpr int MinTickSpacing = 90; // px between axis labels
constexpr int TickLength = 6;
const QColor TraceColour(0, 120, 40);
const QColor UnknownColour(150, 150, 150);
const QColor EventColour(200, 90, 0);
const QColor GridColour(228, 228, 228);
const QColor CursorColour(40, 80, 200);
const QColor NoDataColour(242, 242, 242);

QString StateName(const ChartTrace& trace, PointState state)
{
    switch (state) {
    case PointState::On: return trace.onText.isEmpty() ? QStringLiteral("On") : trace.onText;
    case PointState::Off: return trace.offText.isEmpty() ? QStringLiteral("Off") : trace.offText;
    case PointState::NoData: return QStringLiteral("no data");
    case PointState::Unknown: break;
    }
    return QStringLiteral("?");
}

} // namespace

TimingChart::TimingChart(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    axis_.setWidth(plotWidth());
}

QSize TimingChart::sizeHint() const
{
    return {900, TopMargin + std::max<int>(traces_.size(), 3) * RowHeight + AxisHeight};
}

QSize TimingChart::minimumSizeHint() const { return {LabelWidth + 200, TopMargin + RowHeight + AxisHeight}; }

int TimingChart::plotWidth() const { return std::max(width() - LabelWidth - 8, 1); }

void TimingChart::setTraces(QList<ChartTrace> traces, qint64 from, qint64 to, bool keepView)
{
    traces_ = std::move(traces);
    segments_.clear();
    for (const ChartTrace& trace : std::as_const(traces_))
        segments_.append(
            TraceSegments(trace.events, from, to, trace.dataFrom.value_or(std::numeric_limits<qint64>::min())));
    const double start = axis_.viewStart();
    const double scale = axis_.msPerPixel();
    axis_.setSpan(from, to);
    axis_.showAll();
    if (keepView) {
        axis_.zoom(axis_.msPerPixel() / scale, 0);
        axis_.setViewStart(start);
    }
    updateGeometry();
    update();
    emit viewChanged();
}

void TimingChart::zoomIn()
{
    axis_.zoom(2, plotWidth() / 2.0);
    update();
    emit viewChanged();
}

void TimingChart::zoomOut()
{
    axis_.zoom(0.5, plotWidth() / 2.0);
    update();
    emit viewChanged();
}

void TimingChart::showAll()
{
    axis_.showAll();
    update();
    emit viewChanged();
}

double TimingChart::viewPosition() const
{
    return (axis_.viewStart() - axis_.spanFrom()) / double(axis_.spanTo() - axis_.spanFrom());
}

double TimingChart::viewShare() const
{
    return std::min(1.0, (axis_.viewEnd() - axis_.viewStart()) / double(axis_.spanTo() - axis_.spanFrom()));
}

void TimingChart::setViewPosition(double share)
{
    axis_.setViewStart(axis_.spanFrom() + share * double(axis_.spanTo() - axis_.spanFrom()));
    update();
    emit viewChanged();
}

std::optional<qint64> TimingChart::cursorTime() const
{
    if (!cursorX_)
        return std::nullopt;
    return qint64(std::floor(axis_.toMs(*cursorX_ - plotLeft())));
}

QString TimingChart::cursorReading(int trace) const
{
    const auto at = cursorTime();
    if (!at || trace < 0 || trace >= traces_.size())
        return {};
    return StateName(traces_[trace], StateAt(segments_[trace], *at));
}

void TimingChart::resizeEvent(QResizeEvent*)
{
    axis_.setWidth(plotWidth());
    emit viewChanged();
}

void TimingChart::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || traces_.isEmpty()) {
        event->ignore();
        return;
    }
    axis_.zoom(std::pow(WheelZoom, notches), event->position().x() - plotLeft());
    update();
    emit viewChanged();
    event->accept();
}

void TimingChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragX_ = qRound(event->position().x());
        setCursor(Qt::ClosedHandCursor);
    }
}

void TimingChart::mouseMoveEvent(QMouseEvent* event)
{
    const int x = qRound(event->position().x());
    if (dragX_) {
        axis_.scroll(*dragX_ - x);
        dragX_ = x;
        emit viewChanged();
    }
    if (x >= plotLeft() && x < plotLeft() + plotWidth())
        cursorX_ = x;
    else
        cursorX_.reset();
    update();
}

void TimingChart::mouseReleaseEvent(QMouseEvent*)
{
    dragX_.reset();
    unsetCursor();
}

void TimingChart::leaveEvent(QEvent*)
{
    cursorX_.reset();
    update();
}

void TimingChart::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoomIn(); break;
    case Qt::Key_Minus: zoomOut(); break;
    case Qt::Key_Home: showAll(); break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        axis_.scroll((event->key() == Qt::Key_Left ? -0.1 : 0.1) * plotWidth());
        update();
        emit viewChanged();
        break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void TimingChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const int plotBottom = height() - AxisHeight;
    if (traces_.isEmpty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(rect().adjusted(0, 0, 0, -AxisHeight), Qt::AlignCenter,
            QStringLiteral("Select events of points in the table to chart them"));
        return;
    }
    const QList<TimeAxis::Tick> ticks = axis_.ticks(MinTickSpacing);
    p.setPen(GridColour);
    for (const TimeAxis::Tick& tick : ticks) {
        const int x = plotLeft() + qRound(axis_.toX(tick.ms));
        p.drawLine(x, TopMargin, x, plotBottom);
    }
    for (int i = 0; i < traces_.size(); ++i)
        paintTrace(p, i);
    paintAxis(p, ticks, plotBottom);
    paintCursor(p, plotBottom);
}

void TimingChart::paintTrace(QPainter& p, int trace)
{
    const int top = TopMargin + trace * RowHeight;
    const int high = highY(trace);
    const int low = lowY(trace);
    const int mid = (high + low) / 2;
    const int left = plotLeft();
    const int right = left + plotWidth();

    p.setPen(GridColour);
    p.drawLine(0, top + RowHeight - 1, right, top + RowHeight - 1);
    // The module above the point, each cut to the room the cursor's reading
    // leaves.
    const QFontMetrics metrics = fontMetrics();
    const QString reading = cursorReading(trace);
    const int room = LabelWidth - 12 - (reading.isEmpty() ? 0 : metrics.horizontalAdvance(reading) + 8);
    const int half = (RowHeight - 2) / 2;
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(QRect(6, top + 1, room, half), Qt::AlignBottom | Qt::AlignLeft,
        metrics.elidedText(traces_[trace].module, Qt::ElideRight, room));
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(6, top + 1 + half, room, half), Qt::AlignTop | Qt::AlignLeft,
        metrics.elidedText(traces_[trace].label, Qt::ElideRight, room));
    if (!reading.isEmpty())
        p.drawText(QRect(6, top, LabelWidth - 12, RowHeight - 2), Qt::AlignVCenter | Qt::AlignRight, reading);

    p.save();
    p.setClipRect(left, top, plotWidth(), RowHeight);
    p.setRenderHint(QPainter::Antialiasing, false);
    const auto yOf = [&](PointState s) { return s == PointState::On ? high : s == PointState::Off ? low : mid; };
    const QList<TraceSegment>& segments = segments_[trace];
    const double viewStart = axis_.viewStart();
    const double viewEnd = axis_.viewEnd();
    // Only the segments in the view: from the last one starting at or
    // before the view's start.
    auto it = std::upper_bound(segments.begin(), segments.end(), viewStart,
        [](double t, const TraceSegment& s) { return t < double(s.from); });
    if (it != segments.begin())
        --it;
    int previousY = -1; // none: the start, or after a span without a line
    for (; it != segments.end() && double(it->from) <= viewEnd; ++it) {
        const int x1 = left + int(std::floor(std::max(-1.0, axis_.toX(it->from))));
        const int x2 = left + int(std::floor(std::min(plotWidth() + 1.0, axis_.toX(it->to))));
        if (it->state == PointState::NoData) {
            // No line at all: nothing was collected to draw one from.
            const QRect span(x1, top + 2, x2 - x1, RowHeight - 4);
            p.fillRect(span, NoDataColour);
            const QString text = QStringLiteral("no data");
            if (span.width() > metrics.horizontalAdvance(text) + 8) {
                p.setPen(palette().color(QPalette::PlaceholderText));
                p.drawText(span, Qt::AlignCenter, text);
            }
            previousY = -1;
            continue;
        }
        const int y = yOf(it->state);
        QPen pen(it->state == PointState::Unknown ? UnknownColour : TraceColour, 2);
        if (it->state == PointState::Unknown)
            pen.setStyle(Qt::DashLine);
        p.setPen(pen);
        if (previousY >= 0 && previousY != y)
            p.drawLine(x1, previousY, x1, y);
        p.drawLine(x1, y, x2, y);
        previousY = y;
    }

    const QList<TraceEvent>& events = traces_[trace].events;
    auto event = std::lower_bound(events.begin(), events.end(), qint64(std::floor(viewStart)),
        [](const TraceEvent& e, qint64 t) { return e.ms < t; });
    p.setPen(QPen(EventColour, 1));
    int lastX = -1;
    for (; event != events.end() && double(event->ms) <= viewEnd; ++event) {
        const int x = left + int(std::floor(axis_.toX(event->ms)));
        if (x == lastX)
            continue; // many events in one pixel: one mark
        lastX = x;
        p.drawLine(x, low + 3, x, low + 3 + TickLength);
    }
    p.restore();
}

void TimingChart::paintAxis(QPainter& p, const QList<TimeAxis::Tick>& ticks, int plotBottom)
{
    const int left = plotLeft();
    const int right = left + plotWidth();
    p.setPen(palette().color(QPalette::Text));
    p.drawLine(left, plotBottom, right, plotBottom);
    const QFontMetrics metrics = fontMetrics();
    for (const TimeAxis::Tick& tick : ticks) {
        const int x = left + qRound(axis_.toX(tick.ms));
        p.drawLine(x, plotBottom, x, plotBottom + TickLength);
        const int w = metrics.horizontalAdvance(tick.label);
        const int textX = std::clamp(x - w / 2, left, right - w);
        p.drawText(textX, plotBottom + TickLength + metrics.ascent() + 2, tick.label);
    }
    // The date of the view's start, since the labels may carry times only.
    const QString date = ModuleTimeText(qint64(axis_.viewStart())).left(10);
    p.drawText(QRect(6, plotBottom, LabelWidth - 12, AxisHeight), Qt::AlignVCenter | Qt::AlignLeft, date);
}

void TimingChart::paintCursor(QPainter& p, int plotBottom)
{
    const auto at = cursorTime();
    if (!at)
        return;
    p.setPen(QPen(CursorColour, 1));
    p.drawLine(*cursorX_, TopMargin - 4, *cursorX_, plotBottom);
    const QString text = ModuleTimeText(*at).replace(u'T', u' ');
    const QFontMetrics metrics = fontMetrics();
    const int w = metrics.horizontalAdvance(text);
    const int x = std::clamp(*cursorX_ - w / 2, plotLeft(), plotLeft() + plotWidth() - w);
    p.drawText(x, TopMargin - 8, text);
}

} // namespace chronel
