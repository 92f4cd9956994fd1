#include "chronel_main.h"
#include "flash_tab.h"
#include "option_group.h"
#include "window_controls.h"

#include "core/model/program_revision.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace chronel {

namespace {

const QString ProgramTitle = QStringLiteral("Chronel");
constexpr int AboutTitleBarRoom = 200; // px: icon and buttons of a title bar

} // namespace

ChronelMain::ChronelMain(const ControlFactory& factory, QWidget* parent)
    : QMainWindow(parent), model_(std::make_unique<ChronelModel>(factory))
{
    flash_ = std::make_unique<FlashModel>(model_->channels(), [this] { return model_->GetIp(); });
    setObjectName(QStringLiteral("ChronelMain"));
    refreshEditState();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    tabs_ = new QTabWidget(central);
    tabs_->setObjectName(QStringLiteral("SSTab1"));
    tabs_->addTab(buildConfigurationTab(), QStringLiteral("Configuration"));
    tabs_->addTab(buildSerSetupTab(), QStringLiteral("SER Setup"));
    tabs_->addTab(buildTimeSetupTab(), QStringLiteral("Time Setup"));
    tabs_->addTab(buildFlashTab(), QStringLiteral("Flash"));
    tabs_->addTab(buildSerDataTab(), QStringLiteral("SER Data"));
    tabs_->addTab(buildGpsDataTab(), QStringLiteral("GPS Data"));
    layout->addWidget(tabs_);

    auto* transferRow = new QHBoxLayout;
    transferLabel_ = new QLabel(central);
    transferLabel_->setObjectName(QStringLiteral("lblTransfer"));
    transferProgress_ = new QProgressBar(central);
    transferProgress_->setObjectName(QStringLiteral("prbTransferProgress"));
    transferProgress_->setRange(0, TransferProgressMaximum);
    // The row keeps its room while hidden: showing it for the first transfer
    // must not make the window grow.
    for (QWidget* w : {static_cast<QWidget*>(transferLabel_), static_cast<QWidget*>(transferProgress_)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    transferRow->addWidget(transferLabel_);
    transferRow->addWidget(transferProgress_, 1);
    layout->addLayout(transferRow);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statusBar"));

    buildMenus();
    bindSettings();
    bindPointRows();

    connect(model_.get(), &ChronelModel::settingsChanged, this, &ChronelMain::refreshSettings);
    connect(model_.get(), &ChronelModel::pointPageChanged, this, &ChronelMain::refreshPointPage);
    connect(model_.get(), &ChronelModel::pointStatusChanged, this, &ChronelMain::refreshPointStatus);
    connect(model_.get(), &ChronelModel::transferChanged, this, &ChronelMain::refreshTransfer);
    connect(model_.get(), &ChronelModel::windowItemsChanged, this, &ChronelMain::refreshWindowItems);
    connect(model_.get(), &ChronelModel::fieldNotesChanged, this, &ChronelMain::refreshFieldNotes);
    connect(model_.get(), &ChronelModel::editStateChanged, this, &ChronelMain::refreshEditState);
    connect(model_.get(), &ChronelModel::statusMessage, this,
        [this](const QString& text) { statusBar()->showMessage(text); });

    refreshSettings();
    refreshPointPage();
    refreshPointStatus();
    refreshTransfer();
    refreshWindowItems();
}

ChronelMain::~ChronelMain()
{
    // The controls' events must not reach a half-destroyed window.
    model_->disconnect(this);
    pointFrame_->removeEventFilter(this);
}

void ChronelMain::startUp() { model_->startUp(); }

bool ChronelMain::maybeSaveEdits()
{
    if (!model_->editState().edited())
        return true;
    QMessageBox box(QMessageBox::Question, ProgramTitle, UnsavedEditsText(model_->editState().file()),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedEditsBox"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        // A cancelled or failed save leaves the edits unsaved: stay.
        runMenu(QStringLiteral("mnuFileSave"));
        return !model_->editState().edited();
    case QMessageBox::Discard: return true;
    default: return false;
    }
}

void ChronelMain::closeEvent(QCloseEvent* event)
{
    if (maybeSaveEdits())
        event->accept();
    else
        event->ignore();
}

void ChronelMain::refreshEditState()
{
    setWindowTitle(WindowTitleText(model_->editState().file()));
    setWindowModified(model_->editState().edited());
}

// ---------------------------------------------------------------------------
// Menus

void ChronelMain::buildMenus()
{
    auto add = [this](QMenu* menu, const QString& name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        actions_.insert(name, a);
        connect(a, &QAction::triggered, this, [this, name] { runMenu(name); });
        return a;
    };
    auto separator = [this](QMenu* menu, const QString& name) {
        QAction* a = menu->addSeparator();
        a->setObjectName(name);
        actions_.insert(name, a);
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    add(file, QStringLiteral("mnuFileOpen"), QStringLiteral("Open"));
    add(file, QStringLiteral("mnuFileSave"), QStringLiteral("&Save"));
    separator(file, QStringLiteral("mnuFileSep1"));
    add(file, QStringLiteral("mnuFileExit"), QStringLiteral("&Exit"));

    QMenu* transfer = menuBar()->addMenu(QStringLiteral("&Transfer"));
    transfer->setObjectName(QStringLiteral("mnuTransfer"));
    add(transfer, QStringLiteral("mnuTransferUpload"), QStringLiteral("&Upload from Chronel"));
    add(transfer, QStringLiteral("mnuTransferDownload"), QStringLiteral("&Download to Chronel"));

    QMenu* tools = menuBar()->addMenu(QStringLiteral("T&ools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    add(tools, QStringLiteral("mnuToolsLogEvents"), QStringLiteral("&Log Events"));
    separator(tools, QStringLiteral("mnuToolsSep1"));
    QAction* monitor = add(tools, QStringLiteral("mnuToolsMonitorEvents"), QStringLiteral("&Monitor Event Data"));
    monitor->setCheckable(true);
    separator(tools, QStringLiteral("mnuToolsSep2"));
    add(tools, QStringLiteral("mnuToolsTestMode"), QStringLiteral("&Test Mode"));
    separator(tools, QStringLiteral("mnuToolsSep3"));
    add(tools, QStringLiteral("mnuToolsRestoreDefault"), QStringLiteral("&Restore Default Settings"));
    separator(tools, QStringLiteral("mnuToolsSep4"));
    add(tools, QStringLiteral("mnuToolsSiteJournal"), QStringLiteral("Site &Journal…"));

    QMenu* statistics = menuBar()->addMenu(QStringLiteral("&Statistics"));
    statistics->setObjectName(QStringLiteral("mnuStatistics"));
    add(statistics, QStringLiteral("mnuTcpipNtp"), QStringLiteral("&NTP Statistics"));
    add(statistics, QStringLiteral("mnuTcpipHttp"), QStringLiteral("&HTTP Statistics"));
    add(statistics, QStringLiteral("mnuRunTime"), QStringLiteral("&Run Time Statistics"));

    QAction* about = menuBar()->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("mnuAbout"));
    actions_.insert(about->objectName(), about);
    connect(about, &QAction::triggered, this, [this] { runMenu(QStringLiteral("mnuAbout")); });

    // Entries this window serves itself.
    handlers_.insert(QStringLiteral("mnuFileExit"), [this] { close(); });
    handlers_.insert(QStringLiteral("mnuToolsMonitorEvents"),
        [this] { model_->setMonitorEventData(actions_.value(QStringLiteral("mnuToolsMonitorEvents"))->isChecked()); });
    handlers_.insert(QStringLiteral("mnuToolsRestoreDefault"), [this] { model_->restoreDefaultSettings(); });
    handlers_.insert(QStringLiteral("mnuTcpipHttp"), [] {});
    handlers_.insert(QStringLiteral("mnuAbout"), [this] { showAbout(); });
}

void ChronelMain::setMenuHandler(const QString& actionName, std::function<void()> handler)
{
    handlers_.insert(actionName, std::move(handler));
}

QAction* ChronelMain::menuAction(const QString& actionName) const { return actions_.value(actionName); }

void ChronelMain::runMenu(const QString& actionName)
{
    const auto handler = handlers_.constFind(actionName);
    if (handler != handlers_.cend() && *handler) {
        (*handler)();
        return;
    }
    QString caption = actions_.value(actionName) ? actions_.value(actionName)->text() : actionName;
    caption.remove(QLatin1Char('&'));
    statusBar()->showMessage(QStringLiteral("\"%1\" is not available in this build yet.").arg(caption));
}

void ChronelMain::showAbout()
{
    // Not modal to the event loop: the channels keep polling while it shows.
    auto* box = new QMessageBox(
        QMessageBox::NoIcon, ProgramTitle, QStringLiteral("Revision ") + ProgramRevision(), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // A box as narrow as its text gets its title cut to "..." by the window
    // manager; room for the title and the title bar's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        const int width = box->fontMetrics().horizontalAdvance(ProgramTitle) + AboutTitleBarRoom;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
            grid->columnCount());
    }
    box->open();
}

// ---------------------------------------------------------------------------
// Tabs

QLineEdit* ChronelMain::textField(const QString& name, QWidget* parent, bool displayOnly)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(displayOnly);
    settingFields_.insert(name, edit);
    return edit;
}

QLabel* ChronelMain::indicator(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAutoFillBackground(true);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumSize(16, 16);
    SetIndicator(label, false);
    return label;
}

QWidget* ChronelMain::buildFlashTab() { return new FlashTab(*flash_); }

// ---------------------------------------------------------------------------
// Binding: screen → model

void ChronelMain::bindSettings()
{
    for (auto it = settingFields_.cbegin(); it != settingFields_.cend(); ++it) {
        const QString name = it.key();
        connect(it.value(), &QLineEdit::textEdited, this, [this, name](const QString& text) {
            if (QString* field = TextField(model_->settings(), name)) {
                *field = text;
                model_->clearFieldNote(name);
                model_->noteEdited();
            }
        });
    }
    for (const CheckBinding& b : CheckBoxes()) {
        QCheckBox* box = checkBoxes_.value(QString::fromLatin1(b.control));
        const auto member = b.member;
        connect(box, &QCheckBox::clicked, this, [this, box, member] {
            model_->settings().*member = FromQt(box->checkState());
            model_->noteEdited();
        });
    }
    for (const ListBinding& b : Lists()) {
        QComboBox* combo = lists_.value(QString::fromLatin1(b.control));
        const auto member = b.member;
        connect(combo, &QComboBox::activated, this, [this, member](int index) {
            model_->settings().*member = index;
            model_->noteEdited();
        });
    }
    connect(eventBufferGroup_, &QButtonGroup::idClicked, this,
        [this](int id) { model_->settings().ConfigEventBufferType = id; });
    connect(tcpipModeGroup_, &QButtonGroup::idClicked, this,
        [this](int id) { model_->settings().ConfigTcpipMode = TcpipMode(id); });
    connect(
        tcpipSpeedGroup_, &QButtonGroup::idClicked, this, [this](int id) { model_->chooseTcpipSpeed(TcpipSpeed(id)); });
    connect(ethernetCommGroup_, &QButtonGroup::idClicked, this,
        [this](int id) { model_->settings().ConfigTcpipEthernetComm = EthernetComm(id); });
    for (QButtonGroup* group : {eventBufferGroup_, tcpipModeGroup_, tcpipSpeedGroup_, ethernetCommGroup_})
        connect(group, &QButtonGroup::idClicked, this, [this] { model_->noteEdited(); });
}

// ---------------------------------------------------------------------------
// Binding: model → screen

void ChronelMain::refreshSettings()
{
    refreshing_ = true;
    ModuleSettings& s = model_->settings();
    for (auto it = settingFields_.cbegin(); it != settingFields_.cend(); ++it) {
        if (const QString* field = TextField(s, it.key()))
            SetText(it.value(), *field);
    }
    for (const CheckBinding& b : CheckBoxes())
        checkBoxes_.value(QString::fromLatin1(b.control))->setCheckState(ToQt(s.*b.member));
    for (const ListBinding& b : Lists()) {
        QComboBox* combo = lists_.value(QString::fromLatin1(b.control));
        const int position = s.*b.member;
        combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
    }
    ChooseOption(*eventBufferGroup_, s.ConfigEventBufferType);
    ChooseOption(*tcpipModeGroup_, s.ConfigTcpipMode == TcpipMode::None ? -1 : int(s.ConfigTcpipMode));
    ChooseOption(*tcpipSpeedGroup_, s.ConfigTcpipSpeed == TcpipSpeed::None ? -1 : int(s.ConfigTcpipSpeed));
    ChooseOption(
        *ethernetCommGroup_, s.ConfigTcpipEthernetComm == EthernetComm::None ? -1 : int(s.ConfigTcpipEthernetComm));
    for (QAbstractButton* b : ethernetCommGroup_->buttons())
        b->setEnabled(s.ConfigTcpipEthernetCommEnabled);
    refreshing_ = false;
    refreshFieldNotes();
}

void ChronelMain::refreshTransfer()
{
    const TransferDisplay& t = model_->transfer();
    transferProgress_->setMaximum(t.maximum);
    transferProgress_->setValue(t.value);
    transferLabel_->setText(t.label);
    transferProgress_->setVisible(t.visible);
    transferLabel_->setVisible(t.visible);
}

void ChronelMain::refreshWindowItems()
{
    tabs_->setTabText(4, model_->serDataTabCaption());
    QComboBox* location = lists_.value(QStringLiteral("cmbTsDstLocation"));
    if (location->count() != model_->dstLocationItems().size()) {
        refreshing_ = true;
        location->clear();
        location->addItems(model_->dstLocationItems());
        const int position = model_->settings().TsDstLocation;
        location->setCurrentIndex(position >= 0 && position < location->count() ? position : -1);
        refreshing_ = false;
    }
    if (QAction* monitor = actions_.value(QStringLiteral("mnuToolsMonitorEvents")))
        monitor->setChecked(model_->monitorEventData());
}

void ChronelMain::refreshFieldNotes()
{
    const QHash<QString, QString> notes = model_->fieldNotes();
    for (auto it = settingFields_.cbegin(); it != settingFields_.cend(); ++it)
        it.value()->setToolTip(notes.value(it.key()));
    for (int r = 0; r < model_->page().rows(); ++r) {
        const RowControls& rc = rows_[std::size_t(r)];
        for (QLineEdit* edit : {rc.filter, rc.debounce, rc.chatter})
            edit->setToolTip(notes.value(FieldKey(edit->objectName(), r)));
    }
}

} // namespace chronel
