#include "journal_window.h"

#include "journal_table_model.h"
#include "timing_chart.h"

#include "journal/journal_format.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace chronel {

namespace {

const QString Title = QStringLiteral("Site Journal");
constexpr int ScrollSteps = 100000;
// Room around the rows when the filter leaves the period open.
constexpr qint64 MinSpanMs = 1000;

// "<name or address>  <point> <description>".
QString TraceLabel(const JournalEvent& e)
{
    const QString module = e.moduleName.isEmpty() ? e.module : e.moduleName;
    return e.pointDescription.isEmpty() ? QStringLiteral("%1  %2").arg(module).arg(e.point)
                                        : QStringLiteral("%1  %2 %3").arg(module).arg(e.point).arg(e.pointDescription);
}

} // namespace

std::optional<qint64> LatestJournalId(const JournalStore& store, QString* error)
{
    // Whether a row follows `id`; ids only grow, so this is monotonic.
    const auto rowAfter = [&](qint64 id) -> std::optional<bool> {
        const auto rows = JournalRowsAfter(store, id, {}, 1, error);
        if (!rows)
            return std::nullopt;
        return !rows->isEmpty();
    };
    qint64 low = 0; // a row follows low
    qint64 high = 1;
    for (;;) {
        const auto more = rowAfter(low);
        if (!more)
            return std::nullopt;
        if (!*more)
            return low;
        const auto beyond = rowAfter(high);
        if (!beyond)
            return std::nullopt;
        if (!*beyond)
            break;
        low = high;
        high *= 2;
    }
    // A row follows low, none follows high: the last id is in (low, high].
    while (high - low > 1) {
        const qint64 mid = low + (high - low) / 2;
        const auto more = rowAfter(mid);
        if (!more)
            return std::nullopt;
        (*more ? low : high) = mid;
    }
    return high;
}

JournalWindow::JournalWindow(std::unique_ptr<JournalStore> store, MessageSink sink, QWidget* parent)
    : QMainWindow(parent),
      store_(std::move(store)),
      sink_(std::move(sink)),
      model_(new JournalTableModel(PageRows, this))
{
    setObjectName(QStringLiteral("frmSiteJournal"));
    setWindowTitle(QStringLiteral("%1 — %2").arg(Title, store_->location().displayName()));

    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("tblJournal"));
    table_->setModel(model_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(JournalTableModel::ModuleTime, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed heights: the view need not measure every row of the page.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics metrics = fontMetrics();
    const auto widthOf = [&metrics](const char* sample) {
        return metrics.horizontalAdvance(QString::fromLatin1(sample)) + 24;
    };
    table_->setColumnWidth(JournalTableModel::Module, widthOf("255.255.255.255"));
    table_->setColumnWidth(JournalTableModel::Name, widthOf("Substation North"));
    table_->setColumnWidth(JournalTableModel::ModuleTime, widthOf("2024-03-01 13:05:07.042"));
    table_->setColumnWidth(JournalTableModel::Point, widthOf("Point"));
    table_->setColumnWidth(JournalTableModel::Description, widthOf("Breaker 52 trip coil"));
    table_->setColumnWidth(JournalTableModel::State, widthOf("Closed"));
    table_->setColumnWidth(JournalTableModel::Text, widthOf("2024-03-01  13:05:07.042  S  G   Input Point  5  On"));
    table_->setColumnWidth(JournalTableModel::Quality, widthOf("Quality"));
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { refreshChart(false); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { refreshChart(false); });

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName(QStringLiteral("splJournal"));
    splitter->addWidget(table_);
    splitter->addWidget(buildChartPanel());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildFilterRow());
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    resize(1280, 820);

    followTimer_ = new QTimer(this);
    followTimer_->setObjectName(QStringLiteral("tmrJournalFollow"));
    followTimer_->setInterval(FollowMs);
    connect(followTimer_, &QTimer::timeout, this, &JournalWindow::follow);

    QString error;
    if (loadChoices(&error)) {
        if (applyFilter() && truncated_)
            startAtLatestDay();
    } else {
        report(error);
    }
    followTimer_->start();
}

void JournalWindow::startAtLatestDay()
{
    // The row stored last stands for "now": after a trip, its day is the one
    // wanted, not the journal's first rows.
    QString error;
    const auto last = JournalRowsAfter(*store_, lastId_ - 1, {}, 1, &error);
    if (!last || last->isEmpty())
        return;
    from_->setText(last->first().moduleTime.left(10));
    applyFilter();
}

JournalWindow::~JournalWindow() = default;

QWidget* JournalWindow::buildFilterRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const auto label = [layout](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text);
        l->setBuddy(buddy);
        layout->addWidget(l);
        layout->addWidget(buddy);
    };
    module_ = new QComboBox;
    module_->setObjectName(QStringLiteral("cmbJournalModule"));
    module_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    from_ = new QLineEdit;
    from_->setObjectName(QStringLiteral("txtJournalFrom"));
    to_ = new QLineEdit;
    to_->setObjectName(QStringLiteral("txtJournalTo"));
    for (QLineEdit* edit : {from_, to_}) {
        edit->setPlaceholderText(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        edit->setToolTip(QStringLiteral("A module time: a date, then HH:mm, :ss and .zzz if wanted; empty: open. "
                                        "From is included, To is not; a date alone as To takes in that day."));
        edit->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("2024-03-01 13:05:07.042")) + 16);
    }
    point_ = new QComboBox;
    point_->setObjectName(QStringLiteral("cmbJournalPoint"));
    grep_ = new QLineEdit;
    grep_->setObjectName(QStringLiteral("txtJournalGrep"));
    grep_->setPlaceholderText(QStringLiteral("part of the event text"));
    grep_->setClearButtonEnabled(true);

    label(QStringLiteral("&Module"), module_);
    label(QStringLiteral("&From"), from_);
    label(QStringLiteral("&To"), to_);
    label(QStringLiteral("&Point"), point_);
    label(QStringLiteral("Te&xt"), grep_);
    layout->setStretchFactor(grep_, 1);

    auto* apply = new QPushButton(QStringLiteral("&Apply"));
    apply->setObjectName(QStringLiteral("btnJournalApply"));
    apply->setDefault(true);
    auto* exportButton = new QPushButton(QStringLiteral("&Export CSV…"));
    exportButton->setObjectName(QStringLiteral("btnJournalExport"));
    layout->addWidget(apply);
    layout->addWidget(exportButton);

    connect(apply, &QPushButton::clicked, this, &JournalWindow::applyFilter);
    connect(exportButton, &QPushButton::clicked, this, &JournalWindow::exportToChosenFile);
    for (QLineEdit* edit : {from_, to_, grep_})
        connect(edit, &QLineEdit::returnPressed, this, &JournalWindow::applyFilter);
    for (QComboBox* combo : {module_, point_})
        connect(combo, &QComboBox::activated, this, &JournalWindow::applyFilter);
    return row;
}

QWidget* JournalWindow::buildChartPanel()
{
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    const auto button = [&buttons](const QString& text, const QString& name, const QString& tip) {
        auto* b = new QPushButton(text);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    QPushButton* in = button(QStringLiteral("+"), QStringLiteral("btnChartZoomIn"), QStringLiteral("Zoom in"));
    QPushButton* out = button(QStringLiteral("−"), QStringLiteral("btnChartZoomOut"), QStringLiteral("Zoom out"));
    QPushButton* all = button(
        QStringLiteral("Whole period"), QStringLiteral("btnChartShowAll"), QStringLiteral("Show the whole period"));
    auto* hint = new QLabel(QStringLiteral("Timing chart of the points of the selected rows: On high, Off low, a "
                                           "tick at each event. Wheel or +/− zooms, dragging pans."));
    hint->setObjectName(QStringLiteral("lblChartHint"));
    buttons->addWidget(hint, 1);
    layout->addLayout(buttons);

    chart_ = new TimingChart;
    chart_->setObjectName(QStringLiteral("chtJournalTiming"));
    layout->addWidget(chart_, 1);
    chartScroll_ = new QScrollBar(Qt::Horizontal);
    chartScroll_->setObjectName(QStringLiteral("hsbChartTime"));
    layout->addWidget(chartScroll_);

    connect(in, &QPushButton::clicked, chart_, &TimingChart::zoomIn);
    connect(out, &QPushButton::clicked, chart_, &TimingChart::zoomOut);
    connect(all, &QPushButton::clicked, chart_, &TimingChart::showAll);
    connect(chart_, &TimingChart::viewChanged, this, &JournalWindow::refreshScrollBar);
    connect(chartScroll_, &QScrollBar::valueChanged, this,
        [this](int value) { chart_->setViewPosition(double(value) / ScrollSteps); });
    return panel;
}

bool JournalWindow::loadChoices(QString* error)
{
    const auto modules = JournalModules(*store_, error);
    const auto points = modules ? JournalPoints(*store_, error) : std::nullopt;
    if (!points)
        return false;
    // Keep what is chosen while the lists grow.
    const QVariant module = module_->currentData();
    const QVariant point = point_->currentData();
    module_->clear();
    module_->addItem(QStringLiteral("All modules"), QString());
    for (const JournalModule& m : *modules) {
        const QString text = m.name.isEmpty() ? m.module : QStringLiteral("%1  %2").arg(m.module, m.name);
        module_->addItem(text, m.module);
    }
    point_->clear();
    point_->addItem(QStringLiteral("All points"));
    for (int p : *points)
        point_->addItem(p == 0 ? QStringLiteral("No point") : QString::number(p), p);
    module_->setCurrentIndex(std::max(module_->findData(module), 0));
    point_->setCurrentIndex(point.isValid() ? std::max(point_->findData(point), 0) : 0);
    return true;
}

bool JournalWindow::applyFilter()
{
    JournalFilter filter;
    QString error;
    if ((!from_->text().trimmed().isEmpty() && !filter.setFrom(from_->text(), &error)) ||
        (!to_->text().trimmed().isEmpty() && !filter.setTo(to_->text(), &error))) {
        report(QStringLiteral("journal %1: %2").arg(location().displayName(), error));
        return false;
    }
    filter.module = module_->currentData().toString();
    if (const QVariant point = point_->currentData(); point.isValid())
        filter.point = point.toInt();
    filter.grep = grep_->text();

    // The last id first: rows stored while the page loads are then followed,
    // and the model keeps each id once.
    const auto last = LatestJournalId(*store_, &error);
    const auto rows = last ? JournalRows(*store_, filter, &error, PageRows + 1) : std::nullopt;
    if (!rows) {
        report(error);
        return false;
    }
    filter_ = filter;
    lastId_ = *last;
    truncated_ = rows->size() > PageRows;
    followError_.clear();
    model_->setRows(truncated_ ? rows->first(PageRows) : *rows);
    refreshStatus();
    return true;
}

void JournalWindow::follow()
{
    QString error;
    const auto rows = JournalRowsAfter(*store_, lastId_, filter_, FollowRows, &error);
    if (!rows) {
        // Once in the status line rather than a box every second; the next
        // look tries again.
        followError_ = error;
        refreshStatus();
        return;
    }
    const bool hadError = !followError_.isEmpty();
    followError_.clear();
    if (rows->isEmpty()) {
        if (hadError)
            refreshStatus();
        return;
    }
    lastId_ = rows->last().id;
    QScrollBar* scroll = table_->verticalScrollBar();
    const bool atEnd = scroll->value() == scroll->maximum();
    const int added = model_->addRows(*rows);
    if (added > 0) {
        if (atEnd && model_->sortColumn() == JournalTableModel::ModuleTime && model_->sortOrder() == Qt::AscendingOrder)
            table_->scrollToBottom(); // a view left at the newest row stays there
        refreshChart(true);
    }
    // The filter's lists are read again only when a module or point is new
    // to them, so a list the user has open is left alone otherwise.
    const bool newChoice = std::any_of(rows->begin(), rows->end(),
        [this](const JournalEvent& e) { return module_->findData(e.module) < 0 || point_->findData(e.point) < 0; });
    if (newChoice && !loadChoices(&error))
        followError_ = error;
    refreshStatus();
}

void JournalWindow::refreshStatus()
{
    QString text;
    const int rows = model_->rowCount();
    if (model_->droppedRows())
        text = QStringLiteral("%1 rows: the latest of the filter by module time (at most %2 are kept; the earlier "
                              "ones are in the journal and in an export)")
                   .arg(rows)
                   .arg(PageRows);
    else if (truncated_)
        text = QStringLiteral("%1 rows: the first of the filter by module time, and those stored since; narrow the "
                              "period to see later ones (an export writes them all)")
                   .arg(rows);
    else
        text = QStringLiteral("%1 rows").arg(rows);
    text += followError_.isEmpty() ? QStringLiteral("; following the journal")
                                   : QStringLiteral("; cannot follow: %1").arg(followError_);
    statusBar()->showMessage(text);
}

void JournalWindow::exportToChosenFile()
{
    QString path;
    if (chooser_) {
        path = chooser_();
    } else {
        QFileDialog dialog(this, QStringLiteral("Export CSV"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters({QStringLiteral("Comma Delimited Files (*.csv)"), QStringLiteral("All Files (*)")});
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        dialog.selectFile(QDir::home().filePath(QStringLiteral("journal.csv")));
        if (dialog.exec() == QDialog::Accepted)
            path = dialog.selectedFiles().value(0);
    }
    if (!path.isEmpty())
        exportCsv(path);
}

bool JournalWindow::exportCsv(const QString& path)
{
    QSaveFile file(path);
    QString error;
    int rows = 0;
    bool ok = file.open(QIODevice::WriteOnly);
    if (!ok)
        error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    JournalWriter writer(&file, JournalFormat::Csv);
    ok = ok && writer.begin(&error);
    bool written = true;
    ok = ok &&
        ForEachJournalRow(
            *store_, filter_,
            [&](const JournalEvent& event) {
                written = writer.write(event, &error);
                rows += written;
                return written;
            },
            &error) &&
        written;
    if (ok && !file.commit()) {
        ok = false;
        error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    }
    if (!ok) {
        file.cancelWriting();
        report(error);
        return false;
    }
    statusBar()->showMessage(QStringLiteral("Exported %1 rows to %2").arg(rows).arg(QDir::toNativeSeparators(path)));
    return true;
}

void JournalWindow::refreshChart(bool keepView)
{
    // The points of the selected rows, in the table's order.
    QList<std::pair<QString, int>> points;
    QList<QString> labels;
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected) {
        const JournalEvent& e = model_->eventAt(index.row());
        const std::pair<QString, int> key{e.module, e.point};
        if (e.point == 0 || points.contains(key))
            continue;
        if (points.size() == MaxTraces)
            break;
        points.append(key);
        labels.append(TraceLabel(e));
    }

    // Nothing selected but a point filtered: that point of every module.
    if (points.isEmpty() && filter_.point.value_or(0) > 0) {
        for (const JournalEvent& e : model_->events()) {
            const std::pair<QString, int> key{e.module, e.point};
            if (points.contains(key) || points.size() == MaxTraces)
                continue;
            points.append(key);
            labels.append(TraceLabel(e));
        }
    }

    QList<ChartTrace> traces(points.size());
    for (int i = 0; i < points.size(); ++i)
        traces[i].label = labels[i];
    std::optional<qint64> first;
    std::optional<qint64> last;
    for (const JournalEvent& e : model_->events()) {
        const auto ms = ModuleTimeMs(e.moduleTime);
        if (!ms)
            continue;
        first = std::min(first.value_or(*ms), *ms);
        last = std::max(last.value_or(*ms), *ms);
        const auto trace = points.indexOf(std::pair{e.module, e.point});
        if (trace >= 0)
            traces[trace].events.append({*ms, EventEffectOf(e.text)});
    }
    for (ChartTrace& trace : traces)
        std::stable_sort(trace.events.begin(), trace.events.end(),
            [](const TraceEvent& a, const TraceEvent& b) { return a.ms < b.ms; });

    // The filter's period where it is set, else that of the rows, with room
    // for the last tick.
    qint64 from = ModuleTimeMs(filter_.from).value_or(first.value_or(0));
    qint64 to = ModuleTimeMs(filter_.to).value_or(last.value_or(0));
    if (filter_.to.isEmpty()) {
        const qint64 room = std::max((to - from) / 50, MinSpanMs / 10);
        to += room;
        if (filter_.from.isEmpty())
            from -= room;
    }
    to = std::max(to, from + MinSpanMs);
    chart_->setTraces(traces, from, to, keepView);
}

void JournalWindow::refreshScrollBar()
{
    const QSignalBlocker blocker(chartScroll_);
    const int page = std::max(1, int(std::lround(chart_->viewShare() * ScrollSteps)));
    chartScroll_->setRange(0, ScrollSteps - page);
    chartScroll_->setPageStep(page);
    chartScroll_->setSingleStep(std::max(1, page / 10));
    chartScroll_->setValue(int(std::lround(chart_->viewPosition() * ScrollSteps)));
}

void JournalWindow::report(const QString& text)
{
    OrMessageBox(sink_)(UserMessage{Title, text, platform::MessageIcon::Critical});
}

} // namespace chronel
