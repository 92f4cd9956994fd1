#include "journal_window.h"

#include "incident_list_model.h"
#include "journal_csv.h"
#include "journal_notes.h"
#include "journal_table_model.h"
#include "timing_chart.h"

#include "journal/comtrade_export.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace chronel {

namespace {

const QString Title = QStringLiteral("Site Journal");
constexpr int ScrollSteps = 100000;
// Room around the rows when the filter leaves the period open.
constexpr qint64 MinSpanMs = 1000;

// The first line of a trace's label: "<name>  <address>", or the address.
QString TraceModule(const JournalEvent& e)
{
    return e.moduleName.isEmpty() ? e.module : QStringLiteral("%1  %2").arg(e.moduleName, e.module);
}

// The second line: "<point> <description>".
QString TraceLabel(const JournalEvent& e)
{
    return e.pointDescription.isEmpty() ? QString::number(e.point)
                                        : QStringLiteral("%1 %2").arg(e.point).arg(e.pointDescription);
}

// A bound as stored, as the From and To fields take it.
QString FieldText(const QString& stored)
{
    QString text = stored;
    if (text.size() > 10 && text[10] == u'T')
        text[10] = u' ';
    return text;
}

// A combo box as wide as `chars` characters whatever it holds, so a long
// module name does not widen the window; its list shows the whole texts.
void LimitWidth(QComboBox* combo, int chars)
{
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(chars);
    combo->view()->setTextElideMode(Qt::ElideNone);
}

void WidenList(QComboBox* combo)
{
    const QFontMetrics metrics = combo->view()->fontMetrics();
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)));
    combo->view()->setMinimumWidth(widest + 32);
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
      model_(new JournalTableModel(PageRows, this)),
      incidents_(new IncidentListModel(this))
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
    table_->setColumnWidth(JournalTableModel::Clock, widthOf("internal clock, good, +0.4 s") + metrics.height());
    // The clock qualifies the module time: shown beside it, where a doubt is
    // seen without scrolling; the model's and the export's order keep it last.
    table_->horizontalHeader()->moveSection(JournalTableModel::Clock, JournalTableModel::ModuleTime + 1);
    model_->setDoubtIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    model_->setCommentIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { refreshChart(false); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { refreshChart(false); });

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName(QStringLiteral("splJournal"));
    splitter->addWidget(table_);
    splitter->addWidget(buildChartPanel());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    // What the marks in brackets mean, at hand without the README: shown by
    // the Legend button, and as the tooltip of the Event text and Clock
    // headings.
    legend_ = new QLabel(JournalTableModel::legend());
    legend_->setObjectName(QStringLiteral("lblJournalLegend"));
    legend_->setTextFormat(Qt::PlainText);
    legend_->setWordWrap(true);
    legend_->setFrameShape(QFrame::StyledPanel);
    legend_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    legend_->hide();

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildFilterRow());
    layout->addWidget(legend_);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    addDockWidget(Qt::BottomDockWidgetArea, buildIncidentsDock());
    // A few incidents' height: the table and the chart keep the room.
    resizeDocks({incidentsDock_}, {fontMetrics().height() * 9}, Qt::Vertical);
    // As large as the screen allows, up to a size that shows a trip whole.
    const QSize wanted(1280, 820);
    resize(screen() ? wanted.boundedTo(screen()->availableSize()) : wanted);

    followTimer_ = new QTimer(this);
    followTimer_->setObjectName(QStringLiteral("tmrJournalFollow"));
    followTimer_->setInterval(FollowMs);
    connect(followTimer_, &QTimer::timeout, this, &JournalWindow::follow);

    QString error;
    if (loadChoices(&error)) {
        if (applyFilter() && truncated_)
            startAtLatestDay();
    } else {
        followError_ = error;
        refreshStatus();
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
    // Two rows, so that the window fits a screen of 1024 × 600: what to
    // look for above, the period and the actions below.
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("wgtJournalFilter"));
    auto* grid = new QGridLayout(row);
    grid->setContentsMargins(0, 0, 0, 0);
    const auto field = [grid](const QString& text, QWidget* buddy, int r, int c) {
        auto* l = new QLabel(text);
        l->setBuddy(buddy);
        grid->addWidget(l, r, c);
        grid->addWidget(buddy, r, c + 1);
    };
    module_ = new QComboBox;
    module_->setObjectName(QStringLiteral("cmbJournalModule"));
    LimitWidth(module_, 26);
    from_ = new QLineEdit;
    from_->setObjectName(QStringLiteral("txtJournalFrom"));
    to_ = new QLineEdit;
    to_->setObjectName(QStringLiteral("txtJournalTo"));
    for (QLineEdit* edit : {from_, to_}) {
        edit->setPlaceholderText(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        edit->setToolTip(QStringLiteral("A module time: a date, then HH:mm, :ss and .zzz if wanted; empty: open. "
                                        "From is included, To is not; a date alone as To takes in that day. With "
                                        "Z or an offset after the time (14:00Z, 15:00+01:00) a UTC time, as Export "
                                        "COMTRADE needs, which takes in the modules whose zone is declared."));
        edit->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("2024-03-01 13:05:07.042")) + 16);
    }
    point_ = new QComboBox;
    point_->setObjectName(QStringLiteral("cmbJournalPoint"));
    LimitWidth(point_, 24);
    grep_ = new QLineEdit;
    grep_->setObjectName(QStringLiteral("txtJournalGrep"));
    grep_->setPlaceholderText(QStringLiteral("part of the event text, description, state or module name"));
    grep_->setClearButtonEnabled(true);

    field(QStringLiteral("&Module"), module_, 0, 0);
    field(QStringLiteral("&Point"), point_, 0, 2);
    field(QStringLiteral("Te&xt"), grep_, 0, 4);
    field(QStringLiteral("&From"), from_, 1, 0);
    field(QStringLiteral("&To"), to_, 1, 2);
    grid->setColumnStretch(5, 1);

    auto* apply = new QPushButton(QStringLiteral("&Apply"));
    apply->setObjectName(QStringLiteral("btnJournalApply"));
    apply->setDefault(true);
    auto* exportButton = new QPushButton(QStringLiteral("&Export CSV…"));
    exportButton->setObjectName(QStringLiteral("btnJournalExport"));
    auto* comtradeButton = new QPushButton(QStringLiteral("Export C&OMTRADE…"));
    comtradeButton->setObjectName(QStringLiteral("btnJournalExportComtrade"));
    comtradeButton->setToolTip(QStringLiteral("Writes the point changes of the filter as applied as a COMTRADE record "
                                              "(.cfg and .dat) into a folder. Its period is in UTC: From and To "
                                              "with Z or an offset."));
    auto* legendButton = new QPushButton(QStringLiteral("&Legend"));
    legendButton->setObjectName(QStringLiteral("btnJournalLegend"));
    legendButton->setCheckable(true);
    legendButton->setToolTip(JournalTableModel::legend());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(apply);
    buttons->addWidget(exportButton);
    buttons->addWidget(comtradeButton);
    buttons->addWidget(legendButton);
    grid->addLayout(buttons, 1, 4, 1, 2);

    connect(apply, &QPushButton::clicked, this, &JournalWindow::applyFilter);
    connect(exportButton, &QPushButton::clicked, this, &JournalWindow::exportToChosenFile);
    connect(comtradeButton, &QPushButton::clicked, this, &JournalWindow::exportComtradeToChosenFolder);
    connect(legendButton, &QPushButton::toggled, this, [this](bool on) { legend_->setVisible(on); });
    for (QLineEdit* edit : {from_, to_, grep_}) {
        connect(edit, &QLineEdit::returnPressed, this, &JournalWindow::applyFilter);
        connect(edit, &QLineEdit::textChanged, this, &JournalWindow::refreshStatus);
    }
    connect(module_, &QComboBox::activated, this, [this] {
        // The points' descriptions are the chosen module's.
        QString error;
        if (!loadPoints(&error))
            report(error);
        applyFilter();
    });
    connect(point_, &QComboBox::activated, this, &JournalWindow::applyFilter);
    return row;
}

QDockWidget* JournalWindow::buildIncidentsDock()
{
    incidentList_ = new QTableView;
    incidentList_->setObjectName(QStringLiteral("tblIncidents"));
    incidentList_->setModel(incidents_);
    incidentList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    incidentList_->setSelectionMode(QAbstractItemView::SingleSelection);
    incidentList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    incidentList_->setWordWrap(false);
    incidentList_->verticalHeader()->hide();
    incidentList_->horizontalHeader()->setStretchLastSection(true);
    incidentList_->setToolTip(QStringLiteral("The incidents engineers recorded in the web view, newest first. "
                                             "Choosing one shows its period and modules in the table above, and "
                                             "its comments beside the list."));

    incidentDetails_ = new QTextBrowser;
    incidentDetails_->setObjectName(QStringLiteral("txtIncidentDetails"));
    // A browser that follows no link and loads nothing: what people wrote
    // is shown as text.
    incidentDetails_->setOpenLinks(false);
    incidentDetails_->setOpenExternalLinks(false);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("splIncidents"));
    splitter->addWidget(incidentList_);
    splitter->addWidget(incidentDetails_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 1);

    incidentsDock_ = new QDockWidget(QStringLiteral("Incidents"));
    incidentsDock_->setObjectName(QStringLiteral("dckIncidents"));
    // Always at hand: the window has no menu to bring a closed dock back.
    incidentsDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    incidentsDock_->setWidget(splitter);
    showNoIncident();

    connect(incidentList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (current.isValid() && !listing_)
                chooseIncident(incidents_->incidentAt(current.row()).id);
        });
    // Clicked again after the filter was changed by hand: applied again.
    connect(incidentList_, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        const qint64 id = incidents_->incidentAt(index.row()).id;
        if (id != appliedIncident_)
            chooseIncident(id);
    });
    return incidentsDock_;
}

QString JournalWindow::chosenModule() const
{
    const QVariant data = module_->currentData();
    return data.typeId() == QMetaType::QStringList ? QString() : data.toString();
}

bool JournalWindow::chooseIncident(qint64 id)
{
    const int row = incidents_->rowOf(id);
    if (row < 0)
        return false;
    const Incident incident = incidents_->incidentAt(row);
    if (incidentList_->currentIndex().row() != row) {
        listing_ = true;
        incidentList_->selectRow(row);
        listing_ = false;
    }
    QString error;
    const auto comments = IncidentComments(*store_, id, &error);
    showIncident(incident, comments.value_or(QList<Comment>{}));
    if (!comments) {
        notesError_ = error;
        refreshStatus();
    }

    from_->setText(FieldText(incident.fromTime));
    to_->setText(FieldText(incident.toTime));
    grep_->clear();
    incidentModules_ = incident.modules;
    if (!loadChoices(&error)) {
        report(error);
        return false;
    }
    const QStringList& modules = incident.modules;
    int module = 0;
    if (modules.size() == 1 && module_->findData(modules[0]) >= 0)
        module = module_->findData(modules[0]);
    else if (!modules.isEmpty())
        module = module_->findData(QVariant(modules));
    module_->setCurrentIndex(std::max(module, 0));
    point_->setCurrentIndex(0);
    if (!loadPoints(&error)) {
        report(error);
        return false;
    }
    choosing_ = id;
    const bool applied = applyFilter();
    choosing_ = 0;
    return applied;
}

void JournalWindow::showIncident(const Incident& incident, const QList<Comment>& comments)
{
    shownIncident_ = incident.id;
    shownComments_ = comments;
    incidentDetails_->setHtml(IncidentHtml(incident, comments));
}

void JournalWindow::showNoIncident()
{
    shownIncident_ = 0;
    shownComments_.clear();
    QString text;
    switch (notes_) {
    case NotesState::Unread: text = QStringLiteral("The incidents have not been read."); break;
    case NotesState::Absent:
        text = QStringLiteral("This journal was written before incidents were kept: it has none.");
        break;
    case NotesState::Kept:
        text = incidents_->rowCount() == 0
            ? QStringLiteral("No incidents are recorded. Engineers record them, and comment on rows, in the web view.")
            : QStringLiteral("Choose an incident to see its period and modules in the table and its comments here.");
        break;
    }
    // Each look comes here while none is chosen: the text is set only when
    // it changes, so the panel is not redrawn (nor its selection lost).
    if (incidentDetails_->toPlainText() != text)
        incidentDetails_->setPlainText(text);
}

void JournalWindow::refreshNotes()
{
    QList<qint64> ids;
    ids.reserve(model_->events().size());
    for (const JournalEvent& e : model_->events())
        ids << e.id;
    QString error;
    const auto notes = notesReader_.read(*store_, ids, &error);
    const QString before = notesError_;
    if (!notes) {
        // Said once in the status line; the next look tries again.
        notesError_ = error;
        if (notesError_ != before)
            refreshStatus();
        return;
    }
    notesError_.clear();
    notes_ = notes->kept ? NotesState::Kept : NotesState::Absent;
    model_->setComments(notes->eventComments);
    const bool changed = incidents_->setIncidents(notes->incidents);
    if (changed) {
        // Every column in view, a long title cut short (its tooltip has it).
        incidentList_->resizeColumnsToContents();
        const int widest = fontMetrics().averageCharWidth() * 32;
        if (incidentList_->columnWidth(IncidentListModel::Title) > widest)
            incidentList_->setColumnWidth(IncidentListModel::Title, widest);
    }
    const int count = incidents_->rowCount();
    incidentsDock_->setWindowTitle(
        count > 0 ? QStringLiteral("Incidents (%1)").arg(count) : QStringLiteral("Incidents"));
    const int row = incidents_->rowOf(shownIncident_);
    if (changed && row >= 0) {
        // Listed anew: the incident shown stays selected.
        listing_ = true;
        incidentList_->selectRow(row);
        listing_ = false;
    }
    if (row < 0) {
        showNoIncident();
    } else if (changed) {
        // Its entry carries its comment count: read again when that changed.
        const auto comments = IncidentComments(*store_, shownIncident_, &error);
        if (!comments)
            notesError_ = error;
        else
            showIncident(incidents_->incidentAt(row), *comments);
    }
    if (notesError_ != before)
        refreshStatus();
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
                                           "tick at each event, grey before anything was collected from the module. "
                                           "Wheel or +/− zooms, dragging pans."));
    hint->setObjectName(QStringLiteral("lblChartHint"));
    hint->setWordWrap(true);
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
    if (!modules)
        return false;
    // Keep what is chosen while the lists grow.
    const QVariant module = module_->currentData();
    module_->clear();
    module_->addItem(QStringLiteral("All modules"), QString());
    for (const JournalModule& m : *modules) {
        const QString text = m.name.isEmpty() ? m.module : QStringLiteral("%1  %2").arg(m.module, m.name);
        module_->addItem(text, m.module);
    }
    // The incident's modules, unless they are one of those listed.
    const QStringList& incident = incidentModules_;
    if (incident.size() > 1 || (incident.size() == 1 && module_->findData(incident[0]) < 0))
        module_->addItem(QStringLiteral("%1 (incident)").arg(incident.join(QStringLiteral(", "))), incident);
    module_->setCurrentIndex(std::max(module_->findData(module), 0));
    WidenList(module_);
    return loadPoints(error);
}

bool JournalWindow::loadPoints(QString* error)
{
    const auto points = JournalPointList(*store_, chosenModule(), error);
    if (!points)
        return false;
    const QVariant point = point_->currentData();
    point_->clear();
    point_->addItem(QStringLiteral("All points"));
    for (const JournalPoint& p : *points) {
        const QString text = p.point == 0 ? QStringLiteral("No point")
            : p.description.isEmpty()     ? QString::number(p.point)
                                          : QStringLiteral("%1  %2").arg(p.point).arg(p.description);
        point_->addItem(text, p.point);
    }
    point_->setCurrentIndex(point.isValid() ? std::max(point_->findData(point), 0) : 0);
    WidenList(point_);
    return true;
}

JournalWindow::FieldTexts JournalWindow::fieldTexts() const
{
    return {from_->text().trimmed(), to_->text().trimmed(), grep_->text()};
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
    if (const QVariant chosen = module_->currentData(); chosen.typeId() == QMetaType::QStringList)
        filter.modules = chosen.toStringList();
    else
        filter.module = chosen.toString();
    if (const QVariant point = point_->currentData(); point.isValid())
        filter.point = point.toInt();
    filter.grep = grep_->text();
    if (!load(filter, fieldTexts(), &error)) {
        followError_ = error;
        refreshStatus();
        report(error);
        return false;
    }
    appliedIncident_ = choosing_;
    return true;
}

bool JournalWindow::load(const JournalFilter& filter, const FieldTexts& texts, QString* error)
{
    // Twice at most: a read from files that are no longer the journal's is
    // read again once the journal is open again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!store_->isOpen()) {
            if (!store_->reopen(error))
                return false;
            choicesStale_ = true;
            notesReader_.reset();
        }
        // The last id first: rows stored while the page loads are then
        // followed, and the model keeps each id once.
        const auto last = LatestJournalId(*store_, error);
        const auto rows = last ? JournalRows(*store_, filter, error, PageRows + 1) : std::nullopt;
        bool again = false;
        if (!keepCurrent(&again, error))
            return false;
        if (again)
            continue;
        if (!rows)
            return false;
        filter_ = filter;
        applied_ = texts;
        lastId_ = *last;
        truncated_ = rows->size() > PageRows;
        followError_.clear();
        readAt_ = QDateTime::currentDateTime();
        note_.clear();
        // UTC bounds have one fixed width too, so text order is time order.
        if ((!filter.from.isEmpty() && !filter.to.isEmpty() && filter.from >= filter.to) ||
            (!filter.fromUtc.isEmpty() && !filter.toUtc.isEmpty() && filter.fromUtc >= filter.toUtc))
            note_ = QStringLiteral("From %1 is not before To %2, so no row can match").arg(applied_.from, applied_.to);
        model_->setRows(truncated_ ? rows->first(PageRows) : *rows);
        // A journal opened again may hold other modules and points.
        if (std::exchange(choicesStale_, false) && !loadChoices(error))
            followError_ = *error;
        refreshNotes();
        refreshStatus();
        return true;
    }
    return false;
}

bool JournalWindow::keepCurrent(bool* reopened, QString* error)
{
    *reopened = false;
    QString why;
    if (store_->readsCurrentFiles(&why))
        return true;
    *reopened = true;
    firstRows_.clear();
    notesReader_.reset();
    choicesStale_ = true;
    if (store_->reopen(error))
        return true;
    *error = QStringLiteral("%1, and opening it again failed: %2").arg(why, *error);
    return false;
}

void JournalWindow::follow()
{
    QString error;
    if (!store_->isOpen()) {
        // Opening again failed at an earlier look: try once more, then read
        // the page anew, since rows may have been missed meanwhile.
        if (!load(filter_, applied_, &error)) {
            followError_ = error;
            refreshStatus();
        }
        return;
    }
    const auto rows = JournalRowsAfter(*store_, lastId_, filter_, FollowRows, &error);
    bool reopened = false;
    if (!keepCurrent(&reopened, &error) || (reopened && !load(filter_, applied_, &error))) {
        // Once in the status line rather than a box every second; the next
        // look tries again.
        followError_ = error;
        refreshStatus();
        return;
    }
    if (reopened)
        return; // the page was read anew
    if (!rows) {
        followError_ = error;
        refreshStatus();
        return;
    }
    const bool hadError = !followError_.isEmpty();
    followError_.clear();
    readAt_ = QDateTime::currentDateTime();
    if (rows->isEmpty()) {
        refreshNotes();
        if (hadError)
            refreshStatus();
        return;
    }
    lastId_ = rows->last().id;
    for (const JournalEvent& e : *rows) {
        // A module's first row may arrive late, with an earlier module time.
        auto first = firstRows_.find(e.module);
        const auto ms = JournalTimeMs(e.moduleTime);
        if (first != firstRows_.end() && first->has_value() && ms && *ms < **first)
            *first = ms;
    }
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
    refreshNotes();
    refreshStatus();
}

void JournalWindow::refreshStatus()
{
    QString text;
    const int rows = model_->rowCount();
    if (!followError_.isEmpty()) {
        // Never a count as if it were the journal's now.
        text = QStringLiteral("Not following: %1; trying again every second").arg(followError_);
        if (readAt_.isValid())
            text += QStringLiteral(". The table shows the %1 rows read at %2")
                        .arg(rows)
                        .arg(readAt_.toString(QStringLiteral("HH:mm:ss")));
    } else {
        if (model_->droppedRows())
            text = QStringLiteral("%1 rows: the latest of the filter by module time (at most %2 are kept; the "
                                  "earlier ones are in the journal and in an export)")
                       .arg(rows)
                       .arg(PageRows);
        else if (truncated_)
            text = QStringLiteral("%1 rows: the first of the filter by module time, and those stored since; narrow "
                                  "the period to see later ones (an export writes them all)")
                       .arg(rows);
        else
            text = QStringLiteral("%1 rows").arg(rows);
        if (!note_.isEmpty())
            text += QStringLiteral(": ") + note_;
        text += QStringLiteral("; following the journal");
        if (!notesError_.isEmpty())
            text += QStringLiteral("; incidents and comments not read: %1").arg(notesError_);
    }
    const FieldTexts typed = fieldTexts();
    QStringList changed;
    if (typed.from != applied_.from)
        changed << QStringLiteral("From");
    if (typed.to != applied_.to)
        changed << QStringLiteral("To");
    if (typed.grep != applied_.grep)
        changed << QStringLiteral("Text");
    if (!changed.isEmpty())
        text += QStringLiteral(". %1 typed but not applied: Apply or Enter shows them")
                    .arg(changed.join(QStringLiteral(", ")));
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
    QString error;
    int rows = 0;
    const auto fail = [&] {
        report(error);
        return false;
    };
    // Twice at most, as load() reads.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!store_->isOpen() && !store_->reopen(&error))
            return fail();
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return fail();
        }
        const auto put = [&](const QByteArray& bytes) {
            if (file.write(bytes) == bytes.size())
                return true;
            error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return false;
        };
        rows = 0;
        bool written = put(JournalCsvHeaderLine());
        const bool read = written &&
            ForEachJournalRow(
                *store_, filter_,
                [&](const JournalEvent& event) {
                    written = put(JournalCsvLine(event));
                    rows += written;
                    return written;
                },
                &error);
        bool reopened = false;
        if (!keepCurrent(&reopened, &error)) {
            file.cancelWriting();
            return fail();
        }
        if (reopened) {
            file.cancelWriting();
            continue;
        }
        if (!read || !written) {
            file.cancelWriting();
            return fail();
        }
        if (!file.commit()) {
            error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return fail();
        }
        statusBar()->showMessage(
            QStringLiteral("Exported %1 rows to %2").arg(rows).arg(QDir::toNativeSeparators(path)));
        return true;
    }
    return fail();
}

QString JournalWindow::comtradePeriodProblem() const
{
    if (HasUtcPeriod(filter_))
        return {};
    const auto shown = [](const QString& text) { return text.isEmpty() ? QStringLiteral("open") : text; };
    return QStringLiteral("a COMTRADE record holds UTC times, and the period applied (From %1, To %2) has no UTC "
                          "bound at each end. Type From and To with Z or an offset after the time, such as "
                          "2026-12-07 14:00Z or 2026-12-07 15:00+01:00, and Apply: that takes in the modules "
                          "whose zone is declared.")
        .arg(shown(applied_.from), shown(applied_.to));
}

void JournalWindow::exportComtradeToChosenFolder()
{
    // Refused before a folder is asked for.
    if (const QString problem = comtradePeriodProblem(); !problem.isEmpty()) {
        report(QStringLiteral("Export COMTRADE: %1").arg(problem));
        return;
    }
    QString dir;
    if (folderChooser_) {
        dir = folderChooser_();
    } else {
        QFileDialog dialog(this, QStringLiteral("Export COMTRADE into a folder"));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setDirectory(QDir::home());
        if (dialog.exec() == QDialog::Accepted)
            dir = dialog.selectedFiles().value(0);
    }
    if (!dir.isEmpty())
        exportComtrade(dir);
}

bool JournalWindow::exportComtrade(const QString& dir)
{
    QString error = comtradePeriodProblem();
    const auto fail = [&] {
        report(QStringLiteral("Export COMTRADE: %1").arg(error));
        return false;
    };
    if (!error.isEmpty())
        return fail();
    ComtradeExport how;
    how.dir = dir;
    // Twice at most, as load() reads: a record read from files that are no
    // longer the journal's is written again from the journal opened anew.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!store_->isOpen() && !store_->reopen(&error))
            return fail();
        ComtradeFiles files;
        int changes = 0;
        const bool written = ExportComtrade(*store_, filter_, how, &files, &changes, &error);
        bool reopened = false;
        if (!keepCurrent(&reopened, &error))
            return fail();
        if (reopened)
            continue;
        if (!written)
            return fail();
        statusBar()->showMessage(
            QStringLiteral("Wrote %1 and %2: %3 changes")
                .arg(QDir::toNativeSeparators(files.cfgPath), QDir::toNativeSeparators(files.datPath))
                .arg(changes));
        return true;
    }
    error = QStringLiteral("the files of journal %1 changed twice while the record was read; try again")
                .arg(location().displayName());
    return fail();
}

void JournalWindow::refreshChart(bool keepView)
{
    // The points of the selected rows, in the table's order.
    QList<std::pair<QString, int>> points;
    QList<ChartTrace> traces;
    const auto take = [&](const JournalEvent& e) {
        const std::pair<QString, int> key{e.module, e.point};
        if (e.point == 0 || points.contains(key) || points.size() == MaxTraces)
            return;
        points.append(key);
        ChartTrace trace;
        trace.module = TraceModule(e);
        trace.label = TraceLabel(e);
        traces.append(trace);
    };
    const QModelIndexList selected = table_->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected)
        take(model_->eventAt(index.row()));

    // Nothing selected but a point filtered: that point of every module.
    if (points.isEmpty() && filter_.point.value_or(0) > 0) {
        for (const JournalEvent& e : model_->events())
            take(e);
    }

    std::optional<qint64> first;
    std::optional<qint64> last;
    QList<qint64> textAt(traces.size() * 2, std::numeric_limits<qint64>::min());
    for (const JournalEvent& e : model_->events()) {
        const auto ms = JournalTimeMs(e.moduleTime);
        if (!ms)
            continue;
        first = std::min(first.value_or(*ms), *ms);
        last = std::max(last.value_or(*ms), *ms);
        const auto trace = points.indexOf(std::pair{e.module, e.point});
        if (trace < 0)
            continue;
        const EventEffect effect = EventEffectOf(e.text);
        traces[trace].events.append({*ms, effect});
        // The module's words for the state, from its latest row that has them.
        const qsizetype slot = trace * 2 + (effect.state == PointState::On ? 0 : 1);
        if (effect.state != PointState::Unknown && !e.stateText.isEmpty() && *ms >= textAt[slot]) {
            textAt[slot] = *ms;
            (effect.state == PointState::On ? traces[trace].onText : traces[trace].offText) = e.stateText;
        }
    }
    for (qsizetype i = 0; i < traces.size(); ++i) {
        std::stable_sort(traces[i].events.begin(), traces[i].events.end(),
            [](const TraceEvent& a, const TraceEvent& b) { return a.ms < b.ms; });
        traces[i].dataFrom = firstRowMs(points[i].first);
    }

    // The filter's period where it is set, else that of the rows, with room
    // for the last tick.
    qint64 from = JournalTimeMs(filter_.from).value_or(first.value_or(0));
    qint64 to = JournalTimeMs(filter_.to).value_or(last.value_or(0));
    if (filter_.to.isEmpty()) {
        const qint64 room = std::max((to - from) / 50, MinSpanMs / 10);
        to += room;
        if (filter_.from.isEmpty())
            from -= room;
    }
    to = std::max(to, from + MinSpanMs);
    chart_->setTraces(traces, from, to, keepView);
}

std::optional<qint64> JournalWindow::firstRowMs(const QString& module)
{
    if (const auto known = firstRows_.constFind(module); known != firstRows_.cend())
        return *known;
    QString error;
    // A failure leaves the time unknown: the chart then draws no "no data".
    const auto time = JournalFirstModuleTime(*store_, module, &error);
    const std::optional<qint64> ms = time ? JournalTimeMs(*time) : std::nullopt;
    if (time)
        firstRows_.insert(module, ms);
    return ms;
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
