#pragma once
// A window on one site journal (Tools > Site Journal): the rows a filter
// selects in a table that follows the journal as the collector writes it,
// their export to CSV and, for a period in UTC, as a COMTRADE record, a
// legend of the marks a row can carry, and a timing chart of the points of
// the rows selected in the table (or, with none selected, of the point the
// filter names).
//
// The table holds one bounded page (JournalTableModel): the first PageRows
// rows of the filter in module-time order, and the rows stored since, of
// which the earliest drop out past the limit; the status line says which.
// The export writes every row of the filter, not just the page.
//
// Following never shows a journal that is no longer there: after every read
// the window checks that its connection still reads the journal's files
// (JournalStore::readsCurrentFiles) and, when not, opens the journal again
// and reloads the page. While it cannot read, the status line says "not
// following" with the reason and the time of the rows shown, and each look
// tries again.
//
// The incidents engineers recorded in the web view are listed in a dock
// below: choosing one applies its period and modules as the filter and shows
// its comment and comments; rows with comments say so (journal_notes.h).
// The window only reads them, and each look at the journal reads them
// again, so what is recorded while it is open appears in it.
//
// The window reads through its own store, on the GUI thread.
#include "core/model/user_message.h"
#include "journal/journal_incidents.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"
#include "journal_notes.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <functional>
#include <memory>

class QComboBox;
class QDockWidget;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSplitter;
class QTableView;
class QTextBrowser;
class QTimer;

namespace chronel {

class IncidentListModel;
class JournalTableModel;
class TimingChart;

// The id of the journal's last row (0 when it is empty), found through
// JournalRowsAfter alone by halving: a few dozen probes of the id index.
std::optional<qint64> LatestJournalId(const JournalStore& store, QString* error);

class JournalWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int PageRows = 20000;
    static constexpr int FollowMs = 1000;
    // Rows taken per look at the journal; a burst is read over a few looks.
    static constexpr int FollowRows = 5000;
    static constexpr int MaxTraces = 12;

    // Takes an open store and loads the rows of an empty filter, or, when
    // they are more than a page, those from the day of the row stored last;
    // `sink` gets the messages (message boxes when empty), those of this
    // first load included.
    explicit JournalWindow(std::unique_ptr<JournalStore> store, MessageSink sink = {}, QWidget* parent = nullptr);
    ~JournalWindow() override;

    const JournalLocation& location() const { return store_->location(); }

    // Reads the filter fields and loads the page they select; false, with a
    // message, when a field is wrong or the journal cannot be read.
    bool applyFilter();
    // Adds the rows stored since the last look that the filter selects (the
    // follow timer calls it every FollowMs).
    void follow();
    // Whether the last look at the journal read it.
    bool following() const { return followError_.isEmpty(); }
    // Reads the incidents and the comments on the rows held again (each
    // look and each load does); a failure is said in the status line.
    void refreshNotes();
    // Applies incident `id`'s period and modules as the filter (point and
    // text cleared) and shows its comment and comments; false when it is not
    // listed or the filter cannot be applied.
    bool chooseIncident(qint64 id);
    // Writes every row of the filter as applied to `path` as CSV (see
    // journal_csv.h); the file is replaced only once it is complete. False,
    // with a message, on failure.
    bool exportCsv(const QString& path);
    // Writes the COMTRADE record of the filter as applied into the folder
    // `dir`: the files chronel-cli journal --format comtrade writes for that
    // period, module, point and text (journal/comtrade_export.h). The period
    // must be in UTC, From and To with Z or an offset: a module time has no
    // zone, and nothing is guessed. False, with a message, when it is not or
    // the record cannot be written.
    bool exportComtrade(const QString& dir);

    // Replaces the message boxes (tests); empty restores them.
    void setMessageSink(MessageSink sink) { sink_ = std::move(sink); }
    // Replaces the export's save dialog (tests); returns the path or nothing.
    void setFileChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }
    // Replaces the COMTRADE export's folder dialog (tests); returns the
    // folder or nothing.
    void setFolderChooser(std::function<QString()> chooser) { folderChooser_ = std::move(chooser); }

    const JournalFilter& filter() const { return filter_; }
    JournalTableModel& model() { return *model_; }
    QTableView* table() const { return table_; }
    TimingChart* chart() const { return chart_; }
    QTimer* followTimer() const { return followTimer_; }
    IncidentListModel& incidents() { return *incidents_; }
    QTableView* incidentList() const { return incidentList_; }
    QTextBrowser* incidentDetails() const { return incidentDetails_; }
    // The incident whose comment and comments show; 0 when none does.
    qint64 shownIncident() const { return shownIncident_; }

private:
    // The texts of the filter fields as last applied.
    struct FieldTexts {
        QString from;
        QString to;
        QString grep;
        friend bool operator==(const FieldTexts&, const FieldTexts&) = default;
    };

    QWidget* buildFilterRow();
    QWidget* buildChartPanel();
    QDockWidget* buildIncidentsDock();
    // The module the filter's list names; empty for all, or for an
    // incident's modules.
    QString chosenModule() const;
    // Shows `incident` with its comments in the details.
    void showIncident(const Incident& incident, const QList<Comment>& comments);
    // What the details say with no incident chosen.
    void showNoIncident();
    // The modules and points of the filter's lists, from the journal.
    bool loadChoices(QString* error);
    bool loadPoints(QString* error);
    // Loads the page `filter` selects, which `texts` of the fields gave;
    // false with `*error` when the journal cannot be read.
    bool load(const JournalFilter& filter, const FieldTexts& texts, QString* error);
    // After a read: whether the store still reads the journal's files; when
    // not, it is opened again (false with `*error` when that fails).
    bool keepCurrent(bool* reopened, QString* error);
    void startAtLatestDay();
    void exportToChosenFile();
    void exportComtradeToChosenFolder();
    // Why the applied period cannot bound a COMTRADE record; empty when it can.
    QString comtradePeriodProblem() const;
    FieldTexts fieldTexts() const;
    void refreshChart(bool keepView);
    void refreshScrollBar();
    void refreshStatus();
    std::optional<qint64> firstRowMs(const QString& module);
    void report(const QString& text);

    std::unique_ptr<JournalStore> store_;
    JournalFilter filter_;
    FieldTexts applied_;
    qint64 lastId_ = 0;
    bool truncated_ = false;
    QString followError_;
    // Since the journal was opened again, the filter's lists are to be read
    // again.
    bool choicesStale_ = false;
    // When the rows shown were last read, for the status while not following.
    QDateTime readAt_;
    QString note_;
    // Module time of each module's first row in the journal, as ms.
    QHash<QString, std::optional<qint64>> firstRows_;
    JournalNotesReader notesReader_;
    // Why the incidents and comments could not be read at the last look;
    // empty when they were.
    QString notesError_;
    enum class NotesState { Unread, Absent, Kept };
    NotesState notes_ = NotesState::Unread;
    // Set while the window itself selects in the incident list.
    bool listing_ = false;
    // The modules of the incident chosen last, a choice of the module list
    // of their own when they are not one module of it.
    QStringList incidentModules_;
    qint64 shownIncident_ = 0;
    QList<Comment> shownComments_;
    // The incident whose filter is applied (0: none); one applied already
    // is not applied again when clicked.
    qint64 appliedIncident_ = 0;
    qint64 choosing_ = 0;
    MessageSink sink_;
    std::function<QString()> chooser_;
    std::function<QString()> folderChooser_;

    JournalTableModel* model_ = nullptr;
    QComboBox* module_ = nullptr;
    QLineEdit* from_ = nullptr;
    QLineEdit* to_ = nullptr;
    QComboBox* point_ = nullptr;
    QLineEdit* grep_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* legend_ = nullptr;
    TimingChart* chart_ = nullptr;
    QScrollBar* chartScroll_ = nullptr;
    QTimer* followTimer_ = nullptr;
    IncidentListModel* incidents_ = nullptr;
    QDockWidget* incidentsDock_ = nullptr;
    QTableView* incidentList_ = nullptr;
    QTextBrowser* incidentDetails_ = nullptr;
};

} // namespace chronel
