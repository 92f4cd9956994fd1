#include "run_time_statistics_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace chronel {

namespace {

QLabel* Named(QLabel* label, const char* name, int index = -1)
{
    label->setObjectName(QString::fromLatin1(name));
    if (index >= 0)
        label->setProperty("index", index);
    return label;
}

QLabel* Value(QWidget* parent, const char* name, int index = -1)
{
    QLabel* label = Named(new QLabel(parent), name, index);
    label->setFrameShape(QFrame::StyledPanel);
    label->setMinimumWidth(80);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

RunTimeStatisticsWindow::RunTimeStatisticsWindow(LiveData& live, QWidget* parent)
    : QWidget(parent, Qt::Window), live_(live)
{
    setObjectName(QStringLiteral("frmRunTimeStatistics"));
    setWindowTitle(QStringLiteral("Run Time Statistics"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);

    auto* tasks = new QGroupBox(QStringLiteral("Task Loading"), this);
    auto* t = new QGridLayout(tasks);
    for (int k = 0; k < statsblock::TaskCount; ++k) {
        t->addWidget(Named(new QLabel(TaskNames()[std::size_t(k)], tasks), "lblRtsTrTaskRatioTxt", k), k, 0);
        shares_[std::size_t(k)] = Value(tasks, "lblRtsTrTaskRatioData", k);
        t->addWidget(shares_[std::size_t(k)], k, 1);
    }
    layout->addWidget(tasks);

    auto* counts = new QGridLayout;
    counts->addWidget(new QLabel(QStringLiteral("Open Sockets"), this), 0, 0);
    openSockets_ = Value(this, "lblRtsOpenSocketsCount");
    counts->addWidget(openSockets_, 0, 1);
    counts->addWidget(new QLabel(QStringLiteral("Dropped Packets"), this), 1, 0);
    droppedPackets_ = Value(this, "lblRtsDroppedPacketsData");
    counts->addWidget(droppedPackets_, 1, 1);
    layout->addLayout(counts);

    auto* errors = new QGroupBox(QStringLiteral("Errors"), this);
    auto* e = new QVBoxLayout(errors);
    for (int j = 0; j < statsblock::ErrorCount; ++j) {
        errors_[std::size_t(j)] = Value(errors, "lblRtsErrorText", j);
        errors_[std::size_t(j)]->setMinimumWidth(320);
        e->addWidget(errors_[std::size_t(j)]);
    }
    layout->addWidget(errors);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(close, 0, Qt::AlignRight);

    connect(&live_, &LiveData::statisticsChanged, this, &RunTimeStatisticsWindow::refresh);
    refresh();
}

void RunTimeStatisticsWindow::refresh()
{
    const StatisticsDisplay& s = live_.statistics();
    for (int k = 0; k < statsblock::TaskCount; ++k)
        shares_[std::size_t(k)]->setText(s.taskShares[std::size_t(k)]);
    openSockets_->setText(s.openSockets);
    droppedPackets_->setText(s.droppedPackets);
    for (int j = 0; j < statsblock::ErrorCount; ++j)
        errors_[std::size_t(j)]->setText(s.errorLines[std::size_t(j)]);
}

} // namespace chronel
