// The GPS Data tab: the receiver's status, satellites, position, speed and
// course.
#include "chronel_main.h"
#include "window_controls.h"

#include <QGridLayout>
#include <QLabel>

#include <tuple>

namespace chronel {

QWidget* ChronelMain::buildGpsDataTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"GPS Status", "lblGdGpsStatusData", ""},
        {"Number of Satelites", "lblGdNumSatData", ""},
        {"Latitude", "lblGdLatitudeData", "ddmm.mmm"},
        {"Longitude", "lblGdLongitudeData", "dddmm.mmm"},
        {"Altitude", "lblGdAltitudeData", "meters"},
        {"Speed", "lblGdSpeedData", "knots"},
        {"Course", "lblGdCourseData", "degrees"},
    };
    int r = 0;
    for (const auto& [caption, name, unit] : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(caption), page), r, 0);
        auto* value = new QLabel(page);
        value->setObjectName(QString::fromLatin1(name));
        value->setFrameShape(QFrame::StyledPanel);
        value->setMinimumWidth(120);
        grid->addWidget(value, r, 1);
        grid->addWidget(new QLabel(QString::fromLatin1(unit), page), r, 2);
        ++r;
    }
    grid->setRowStretch(r, 1);
    grid->setColumnStretch(3, 1);
    return page;
}

} // namespace chronel
