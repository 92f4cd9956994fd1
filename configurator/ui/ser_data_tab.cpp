// The Retrieve SER Data tab (Monitor SER Data in Monitor mode): the latest
// sixteen event lines, the 32 point status indicators and the buffer count.
#include "chronel_main.h"
#include "window_controls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace chronel {

QWidget* ChronelMain::buildSerDataTab()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    for (int i = 0; i < 16; ++i) {
        auto* line = new QLabel(page);
        line->setObjectName(QStringLiteral("lblEventData"));
        line->setProperty("index", i);
        line->setFrameShape(QFrame::StyledPanel);
        line->setTextFormat(Qt::PlainText);
        layout->addWidget(line);
    }
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(new QLabel(QStringLiteral("1"), page));
    for (int i = 0; i < 32; ++i) {
        QLabel* dot = indicator(QStringLiteral("lblSerDataPointStatus"), page);
        dot->setProperty("index", i);
        pointStatus_[std::size_t(i)] = dot;
        statusRow->addWidget(dot);
    }
    statusRow->addWidget(new QLabel(QStringLiteral("32"), page));
    statusRow->addStretch(1);
    layout->addLayout(statusRow);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel(QStringLiteral("Events in Buffer"), page));
    auto* count = new QLabel(page);
    count->setObjectName(QStringLiteral("lblSerDataEventCount"));
    countRow->addWidget(count);
    countRow->addStretch(1);
    layout->addLayout(countRow);
    layout->addStretch(1);
    return page;
}

void ChronelMain::refreshPointStatus()
{
    const PointStatusIndicators& colours = model_->pointStatus();
    for (int i = 0; i < 32; ++i)
        SetIndicator(pointStatus_[std::size_t(i)], colours[std::size_t(i)] == IndicatorColour::Green);
}

} // namespace chronel
