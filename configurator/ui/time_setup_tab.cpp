// The Time Setup tab: IEEE 1344, time offsets, daylight saving time, the
// time quality and time source indicators and the two clocks.
#include "chronel_main.h"
#include "window_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace chronel {

QWidget* ChronelMain::buildTimeSetupTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* ieee = new QCheckBox(QStringLiteral("Enable IEEE 1344"), page);
    ieee->setObjectName(QStringLiteral("chkTsIeee1344"));
    checkBoxes_.insert(ieee->objectName(), ieee);
    grid->addWidget(ieee, 0, 0);

    QGroupBox* offsets = Frame(QStringLiteral("fraTsTimeOffset"), QStringLiteral("Time Offset"), page);
    auto* off = new QGridLayout(offsets);
    off->addWidget(new QLabel(QStringLiteral("GPS"), offsets), 0, 0);
    off->addWidget(textField(QStringLiteral("txtTsToGpsOffset"), offsets), 0, 1);
    off->addWidget(new QLabel(QStringLiteral("Hrs"), offsets), 0, 2);
    off->addWidget(new QLabel(QStringLiteral("IRIG-B"), offsets), 1, 0);
    off->addWidget(textField(QStringLiteral("txtTsToIrigOffset"), offsets), 1, 1);
    off->addWidget(new QLabel(QStringLiteral("Hrs"), offsets), 1, 2);
    off->setColumnStretch(3, 1);
    grid->addWidget(offsets, 1, 0);

    QGroupBox* dst = Frame(QStringLiteral("fraTsDst"), QStringLiteral("Daylight Saving Time"), page);
    auto* d = new QGridLayout(dst);
    auto* location = new QComboBox(dst);
    location->setObjectName(QStringLiteral("cmbTsDstLocation"));
    lists_.insert(location->objectName(), location);
    d->addWidget(location, 0, 0, 1, 4);
    d->addWidget(new QLabel(QStringLiteral("Month"), dst), 1, 1);
    d->addWidget(new QLabel(QStringLiteral("Day"), dst), 1, 2);
    d->addWidget(new QLabel(QStringLiteral("Hour"), dst), 1, 3);
    d->addWidget(new QLabel(QStringLiteral("Start"), dst), 2, 0);
    d->addWidget(textField(QStringLiteral("txtTsDstStartMonth"), dst), 2, 1);
    d->addWidget(textField(QStringLiteral("txtTsDstStartDay"), dst), 2, 2);
    d->addWidget(textField(QStringLiteral("txtTsDstStartHour"), dst), 2, 3);
    d->addWidget(new QLabel(QStringLiteral("End"), dst), 3, 0);
    d->addWidget(textField(QStringLiteral("txtTsDstStopMonth"), dst), 3, 1);
    d->addWidget(textField(QStringLiteral("txtTsDstStopDay"), dst), 3, 2);
    d->addWidget(textField(QStringLiteral("txtTsDstStopHour"), dst), 3, 3);
    d->setColumnStretch(4, 1);
    for (const char* name : {"txtTsToGpsOffset", "txtTsToIrigOffset", "txtTsDstStartMonth", "txtTsDstStartDay",
             "txtTsDstStartHour", "txtTsDstStopMonth", "txtTsDstStopDay", "txtTsDstStopHour"})
        NaturalWidth(settingFields_.value(QString::fromLatin1(name)), 7, true);
    grid->addWidget(dst, 2, 0);

    auto indicatorFrame = [&](const char* name, const char* caption,
                              std::initializer_list<std::pair<const char*, const char*>> items) {
        QGroupBox* box = Frame(QString::fromLatin1(name), QString::fromLatin1(caption), page);
        auto* g = new QGridLayout(box);
        int r = 0;
        for (const auto& [label, control] : items) {
            g->addWidget(new QLabel(QString::fromLatin1(label), box), r, 0);
            g->addWidget(indicator(QString::fromLatin1(control), box), r, 1);
            ++r;
        }
        return box;
    };
    grid->addWidget(indicatorFrame("fraTsTimeQuality", "Time Quality",
                        {{"Good", "lblTsTqGoodIndication"}, {"Fair", "lblTsTqFairIndication"},
                            {"Poor", "lblTsTqPoorIndication"}, {"Bad", "lblTsTqBadIndication"}}),
        1, 1);
    grid->addWidget(indicatorFrame("fraTsTimeSource", "Time Source",
                        {{"GPS", "lblTsTsGpsIndication"}, {"IRIG-B", "lblTsTsIrigIndication"},
                            {"SER", "lblTsTsSerIndication"}, {"Internal", "lblTsTsInternalIndication"}}),
        2, 1);

    QGroupBox* timeSet = Frame(QStringLiteral("fraTsTimeSet"), QStringLiteral("Time Set"), page);
    auto* ts = new QGridLayout(timeSet);
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    ts->addWidget(new QLabel(QStringLiteral("SER Time"), timeSet), 0, 0);
    ts->addWidget(named(new QLabel(timeSet), "lblTsTsSerTime"), 0, 1);
    ts->addWidget(named(new QLabel(timeSet), "lblTsTsSerDate"), 0, 2);
    ts->addWidget(new QLabel(QStringLiteral("Computer Time"), timeSet), 1, 0);
    ts->addWidget(named(new QLabel(timeSet), "lblTsTsPcTime"), 1, 1);
    ts->addWidget(named(new QLabel(timeSet), "lblTsTsPcData"), 1, 2);
    ts->addWidget(named(new QPushButton(QStringLiteral("Set PC Time"), timeSet), "cmdTsTsSetPcTime"), 2, 1);
    ts->addWidget(named(new QPushButton(QStringLiteral("Set SER Time"), timeSet), "cmdTsTsSetSerTime"), 2, 2);
    ts->setColumnStretch(3, 1);
    grid->addWidget(timeSet, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(2, 1);

    auto* second = new QTimer(this);
    second->setObjectName(QStringLiteral("tmrTs1SecondTimer"));
    second->setInterval(1000);
    return page;
}

} // namespace chronel
