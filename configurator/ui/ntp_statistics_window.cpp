#include "ntp_statistics_window.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace chronel {

NtpStatisticsWindow::NtpStatisticsWindow(LiveData& live, QWidget* parent) : QWidget(parent, Qt::Window), live_(live)
{
    setObjectName(QStringLiteral("frmNtpStatistics"));
    setWindowTitle(QStringLiteral("NTP Statistics"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("NTP Requests"), this), 0, 0, 1, 4);
    // Two columns of twelve hours: midnight to 11 AM, noon to 11 PM.
    for (int k = 0; k < statsblock::NtpHourWords; ++k) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("txtNtpCount"));
        edit->setProperty("index", k);
        edit->setReadOnly(true);
        counts_[std::size_t(k)] = edit;
        const int row = 1 + k % 12;
        const int column = 2 * (k / 12);
        grid->addWidget(new QLabel(NtpHourCaption(k), this), row, column);
        grid->addWidget(edit, row, column + 1);
    }
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    grid->addWidget(close, 13, 3);

    connect(&live_, &LiveData::statisticsChanged, this, &NtpStatisticsWindow::refresh);
    refresh();
}

void NtpStatisticsWindow::refresh()
{
    for (int k = 0; k < statsblock::NtpHourWords; ++k)
        counts_[std::size_t(k)]->setText(live_.statistics().ntpCounts[std::size_t(k)]);
}

} // namespace chronel
