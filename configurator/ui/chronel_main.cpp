#include "chronel_main.h"
#include "flash_tab.h"

#include "option_group.h"

#include "core/fields/conversions.h"
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
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace chronel {

namespace {

const QString ProgramTitle = QStringLiteral("Chronel");
constexpr int AboutTitleBarRoom = 200; // px: icon and buttons of a title bar
const QColor Lit(0, 255, 0);

Qt::CheckState toQt(Check c)
{
    switch (c) {
    case Check::Checked: return Qt::Checked;
    case Check::Grey: return Qt::PartiallyChecked;
    case Check::Unchecked: break;
    }
    return Qt::Unchecked;
}

Check fromQt(Qt::CheckState s)
{
    switch (s) {
    case Qt::Checked: return Check::Checked;
    case Qt::PartiallyChecked: return Check::Grey;
    case Qt::Unchecked: break;
    }
    return Check::Unchecked;
}

QRadioButton* option(QButtonGroup* group, int id, const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QRadioButton(caption, parent);
    b->setObjectName(name);
    group->addButton(b, id);
    return b;
}

QGroupBox* frame(const QString& name, const QString& caption, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    return box;
}

// A field's length limit holds for typing only. Text the program sets (an
// upload's " 192" from the number rule, a file's long description) is shown
// whole: the limit stretches to it until the program sets the next text, so
// nothing is cut, the next edit does not copy a cut text back into the
// settings, and a user who replaces its last digit may type it again.
constexpr char TypingLimit[] = "typingLimit";

void limitTyping(QLineEdit* edit, int limit)
{
    edit->setProperty(TypingLimit, limit);
    edit->setMaxLength(limit);
}

void fitTypingLimit(QLineEdit* edit, qsizetype length)
{
    const int limit = edit->property(TypingLimit).toInt();
    if (limit > 0)
        edit->setMaxLength(int(std::max<qsizetype>(limit, length)));
}

void setText(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text)
        return;
    fitTypingLimit(edit, text.size());
    edit->setText(text);
}

// As wide as `chars` characters of its font and its frame: a maximised window
// does not stretch a short field across the screen.
void naturalWidth(QLineEdit* edit, int chars, bool digits)
{
    const QFontMetrics fm = edit->fontMetrics();
    const int perChar = digits ? fm.horizontalAdvance(QLatin1Char('0')) : fm.averageCharWidth();
    edit->setMaximumWidth(perChar * chars + 2 * fm.horizontalAdvance(QLatin1Char(' ')) + 12);
}

void setIndicator(QLabel* label, bool lit)
{
    QPalette p = label->palette();
    p.setColor(QPalette::Window, lit ? Lit : label->palette().color(QPalette::Button));
    label->setPalette(p);
}

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
    setIndicator(label, false);
    return label;
}

QWidget* ChronelMain::buildConfigurationTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);

    // Left column: module fields, options and the event buffer.
    auto* module = new QWidget(page);
    auto* form = new QGridLayout(module);
    auto* lock = new QCheckBox(QStringLiteral("Lock Configuration"), module);
    lock->setObjectName(QStringLiteral("chkConfigLock"));
    checkBoxes_.insert(lock->objectName(), lock);
    form->addWidget(lock, 0, 0, 1, 3);
    const std::tuple<const char*, const char*, bool, int> fields[] = {
        {"Module ID", "txtConfigPlcId", false, 7},
        {"Modbus Address", "txtConfigModbusAddress", true, 7},
        {"Firmware Version", "txtConfigVersion", true, 7},
        {"Module Name", "txtConfigModuleName", false, 16},
        {"Event Delay", "txtConfigEventDelay", false, 7},
    };
    int row = 1;
    for (const auto& [caption, name, displayOnly, chars] : fields) {
        form->addWidget(new QLabel(QString::fromLatin1(caption), module), row, 0);
        QLineEdit* edit = textField(QString::fromLatin1(name), module, displayOnly);
        naturalWidth(edit, chars, chars < 16);
        form->addWidget(edit, row, 1);
        ++row;
    }
    form->addWidget(new QLabel(QStringLiteral("mS"), module), row - 1, 2);
    auto* syncMaster = new QCheckBox(QStringLiteral("Time Sync Master"), module);
    syncMaster->setObjectName(QStringLiteral("chkConfigSyncMaster"));
    auto* hourly = new QCheckBox(QStringLiteral("Enable Hourly Time Update"), module);
    hourly->setObjectName(QStringLiteral("chkConfigHourTimeUpdate"));
    checkBoxes_.insert(syncMaster->objectName(), syncMaster);
    checkBoxes_.insert(hourly->objectName(), hourly);
    form->addWidget(syncMaster, row++, 0, 1, 3);
    form->addWidget(hourly, row++, 0, 1, 3);

    QGroupBox* buffer = frame(QStringLiteral("fraConfigEventBuffer"), QStringLiteral("Event Buffer"), module);
    auto* bufferLayout = new QHBoxLayout(buffer);
    eventBufferGroup_ = new QButtonGroup(this);
    for (int t = 0; t < 4; ++t)
        bufferLayout->addWidget(option(eventBufferGroup_, t, QStringLiteral("btnConfigEventBufferType%1").arg(t),
            QStringLiteral("Type %1").arg(t), buffer));
    form->addWidget(buffer, row++, 0, 1, 4);
    form->setColumnStretch(3, 1);
    grid->addWidget(module, 0, 0);

    // Frame "TCP/IP".
    QGroupBox* tcpip = frame(QStringLiteral("fraConfigTcpip"), QStringLiteral("TCP/IP"), page);
    auto* tcp = new QGridLayout(tcpip);
    const std::pair<const char*, const char*> octetRows[] = {
        {"IP", "txtConfigTcpipIp"}, {"Subnet", "txtConfigTcpipSubnet"}, {"Gateway", "txtConfigTcpipGateway"}};
    // The four octets of a row sit together at even gaps; the space a wide
    // window gives goes to the right of them.
    row = 0;
    for (const auto& [caption, prefix] : octetRows) {
        tcp->addWidget(new QLabel(QString::fromLatin1(caption), tcpip), row, 0);
        auto* octets = new QHBoxLayout;
        for (int i = 1; i <= 4; ++i) {
            QLineEdit* octet = textField(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i), tcpip);
            limitTyping(octet, 3);
            naturalWidth(octet, 4, true);
            octets->addWidget(octet);
        }
        octets->addStretch(1);
        tcp->addLayout(octets, row, 1, 1, 4);
        ++row;
    }
    tcp->addWidget(new QLabel(QStringLiteral("MAC"), tcpip), row, 0);
    QLineEdit* mac = textField(QStringLiteral("txtConfigTcpipMac"), tcpip, true);
    naturalWidth(mac, 28, false);
    tcp->addWidget(mac, row++, 1, 1, 4);

    tcpipModeGroup_ = new QButtonGroup(this);
    auto* modes = new QVBoxLayout;
    modes->addWidget(option(tcpipModeGroup_, int(TcpipMode::Manual), QStringLiteral("btnConfigTcpipManual"),
        QStringLiteral("Manual IP Address"), tcpip));
    modes->addWidget(option(tcpipModeGroup_, int(TcpipMode::BootP), QStringLiteral("btnConfigTcpipBootP"),
        QStringLiteral("Boot P"), tcpip));
    modes->addWidget(option(
        tcpipModeGroup_, int(TcpipMode::Dhcp), QStringLiteral("btnConfigTcpipDhcp"), QStringLiteral("DHCP"), tcpip));
    tcp->addLayout(modes, row, 0, 1, 2);

    QGroupBox* speed = frame(QStringLiteral("fraConfigTcpipSpeed"), QStringLiteral("Ethernet Speed"), tcpip);
    auto* speedLayout = new QVBoxLayout(speed);
    tcpipSpeedGroup_ = new QButtonGroup(this);
    speedLayout->addWidget(option(tcpipSpeedGroup_, int(TcpipSpeed::Mbps100), QStringLiteral("btnConfigTcpipSpeed100"),
        QStringLiteral("100 Mbps"), speed));
    speedLayout->addWidget(option(tcpipSpeedGroup_, int(TcpipSpeed::Mbps10), QStringLiteral("btnConfigTcpipSpeed10"),
        QStringLiteral("10 Mbps"), speed));
    speedLayout->addWidget(option(tcpipSpeedGroup_, int(TcpipSpeed::AutoNegotiate),
        QStringLiteral("btnConfigTcpipSpeedAuto"), QStringLiteral("Auto-Negotiate"), speed));
    tcp->addWidget(speed, row, 2, 1, 2);

    QGroupBox* comm = frame(QStringLiteral("fraConfigTcpipEthernetComm"), QStringLiteral("Ethernet Comm"), tcpip);
    auto* commLayout = new QVBoxLayout(comm);
    ethernetCommGroup_ = new QButtonGroup(this);
    commLayout->addWidget(option(ethernetCommGroup_, int(EthernetComm::Half),
        QStringLiteral("optConfigTcpipEtherentCommHalf"), QStringLiteral("Half Duplex"), comm));
    commLayout->addWidget(option(ethernetCommGroup_, int(EthernetComm::Full),
        QStringLiteral("optConfigTcpipEthernetCommFull"), QStringLiteral("Full Duplex"), comm));
    tcp->addWidget(comm, row, 4, 1, 1);
    grid->addWidget(tcpip, 0, 1);

    // Frame "Modbus Serial".
    QGroupBox* serial = frame(QStringLiteral("fraConfigModbus"), QStringLiteral("Modbus Serial"), page);
    auto* ser = new QGridLayout(serial);
    const char* heads[] = {"Baud", "Parity", "Delay", "Protocol"};
    for (int c = 0; c < 4; ++c)
        ser->addWidget(new QLabel(QString::fromLatin1(heads[c]), serial), 0, c + 1);
    const std::pair<const char*, const char*> ports[] = {{"RS232", "232"}, {"RS485", "485"}};
    row = 1;
    for (const auto& [caption, port] : ports) {
        const QString p = QString::fromLatin1(port);
        ser->addWidget(new QLabel(QString::fromLatin1(caption), serial), row, 0);
        auto list = [&](const QString& name, const QStringList& items, int column) {
            auto* combo = new QComboBox(serial);
            combo->setObjectName(name);
            combo->addItems(items);
            combo->setCurrentIndex(-1);
            lists_.insert(name, combo);
            ser->addWidget(combo, row, column);
        };
        list(QStringLiteral("cmbConfigModbus%1Baud").arg(p), p == QLatin1String("232") ? Baud232Items() : BaudItems(),
            1);
        list(QStringLiteral("cmbConfigModbus%1Parity").arg(p), ParityItems(), 2);
        QLineEdit* delay = textField(QStringLiteral("txtConfigModbus%1Delay").arg(p), serial);
        naturalWidth(delay, 7, true);
        ser->addWidget(delay, row, 3);
        list(QStringLiteral("cmbConfigModbus%1Protocol").arg(p), ProtocolItems(), 4);
        ++row;
    }
    ser->setColumnStretch(5, 1);
    grid->addWidget(serial, 1, 0, 1, 2);
    // A large window's width goes to the frames and its height to their
    // rows, whose fields stay in the middle of them at the widths of what
    // they hold; the port table's heads stay on top of its rows.
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 1);
    for (QGridLayout* rows : {form, tcp, ser}) {
        for (int i = 0; i < rows->count(); ++i)
            rows->itemAt(i)->setAlignment(rows->itemAt(i)->alignment() | Qt::AlignVCenter);
        for (int r = rows == ser ? 1 : 0; r < rows->rowCount(); ++r)
            rows->setRowStretch(r, 1);
    }
    return page;
}

QWidget* ChronelMain::buildSerSetupTab()
{
    auto* page = new QWidget;
    auto* outer = new QVBoxLayout(page);
    QGroupBox* points = frame(QStringLiteral("fraSsPointConfiguration"), QStringLiteral("Point Configuration"), page);
    pointFrame_ = points;
    pointGrid_ = new QGridLayout(points);
    QGridLayout* grid = pointGrid_;
    grid->setVerticalSpacing(3); // a table: 32 rows fit a full-HD screen
    const char* heads[] = {"Point", "Enable", "Filter", "Debounce", "Chatter", "Description", "Off", "On"};
    for (int c = 0; c < 8; ++c)
        grid->addWidget(new QLabel(QString::fromLatin1(heads[c]), points), 0, c);

    auto arrayItem = [](QWidget* w, const char* name, int index) {
        w->setObjectName(QString::fromLatin1(name));
        w->setProperty("index", index);
        return w;
    };
    // Rows for every point; those the frame has no room for are hidden and
    // the scroll bar pages through the points instead.
    for (int r = 0; r < PointPage::MaxRows; ++r) {
        RowControls& rc = rows_[std::size_t(r)];
        rc.pointNum = new QLabel(points);
        rc.enable = new QCheckBox(points);
        rc.filter = new QLineEdit(points);
        rc.debounce = new QLineEdit(points);
        rc.chatter = new QLineEdit(points);
        rc.description = new QLineEdit(points);
        rc.off = new QLineEdit(points);
        rc.on = new QLineEdit(points);
        limitTyping(rc.description, 32);
        limitTyping(rc.off, 16);
        limitTyping(rc.on, 16);
        for (QLineEdit* number : {rc.filter, rc.debounce, rc.chatter})
            naturalWidth(number, 7, true);
        naturalWidth(rc.description, 32, false);
        naturalWidth(rc.off, 16, false);
        naturalWidth(rc.on, 16, false);
        grid->addWidget(arrayItem(rc.pointNum, "lblSsPcPointNum", r), r + 1, 0);
        grid->addWidget(arrayItem(rc.enable, "chkSsPcEnable", r), r + 1, 1);
        grid->addWidget(arrayItem(rc.filter, "txtSsPcFilter", r), r + 1, 2);
        grid->addWidget(arrayItem(rc.debounce, "txtSsPcDebounce", r), r + 1, 3);
        grid->addWidget(arrayItem(rc.chatter, "txtSsPcChatter", r), r + 1, 4);
        grid->addWidget(arrayItem(rc.description, "txtSsPcDescription", r), r + 1, 5);
        grid->addWidget(arrayItem(rc.off, "txtSsPcOff", r), r + 1, 6);
        grid->addWidget(arrayItem(rc.on, "txtSsPcOn", r), r + 1, 7);
    }
    pointScroll_ = new QScrollBar(Qt::Vertical, points);
    pointScroll_->setObjectName(QStringLiteral("scrSsPcScroll"));
    pointScroll_->setSingleStep(1);
    grid->addWidget(pointScroll_, 1, 8, PointPage::MaxRows, 1);
    grid->setRowStretch(PointPage::MaxRows + 1, 1);
    grid->setColumnStretch(9, 1);

    // The frame takes the tab's height whatever its rows ask for (it hides
    // the rows that do not fit), and never less than eight rows.
    const int rowHeight = rows_[0].filter->sizeHint().height();
    QSizePolicy policy = points->sizePolicy();
    policy.setVerticalPolicy(QSizePolicy::Ignored);
    points->setSizePolicy(policy);
    points->setMinimumHeight(rowHeight * (PointPage::RowCount + 2) + grid->verticalSpacing() * PointPage::RowCount +
        2 * grid->contentsMargins().top() + points->fontMetrics().height());
    points->installEventFilter(this);
    outer->addWidget(points);
    return page;
}

int ChronelMain::pointRowsThatFit() const
{
    const int spacing = pointGrid_->verticalSpacing();
    const int rowHeight = rows_[0].filter->sizeHint().height() + spacing;
    const int head = pointGrid_->itemAtPosition(0, 0)->widget()->sizeHint().height() + spacing;
    const QMargins m = pointGrid_->contentsMargins();
    const int room = pointFrame_->contentsRect().height() - m.top() - m.bottom() - head + spacing;
    return std::clamp(room / rowHeight, PointPage::RowCount, PointPage::MaxRows);
}

bool ChronelMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pointFrame_ && event->type() == QEvent::Resize) {
        model_->showPointRows(pointRowsThatFit());
        // Rows just shown are placed now, not at the next turn of the event
        // loop: a picture taken at once must not find them on top of each
        // other.
        pointGrid_->activate();
    }
    return QMainWindow::eventFilter(watched, event);
}

QWidget* ChronelMain::buildTimeSetupTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* ieee = new QCheckBox(QStringLiteral("Enable IEEE 1344"), page);
    ieee->setObjectName(QStringLiteral("chkTsIeee1344"));
    checkBoxes_.insert(ieee->objectName(), ieee);
    grid->addWidget(ieee, 0, 0);

    QGroupBox* offsets = frame(QStringLiteral("fraTsTimeOffset"), QStringLiteral("Time Offset"), page);
    auto* off = new QGridLayout(offsets);
    off->addWidget(new QLabel(QStringLiteral("GPS"), offsets), 0, 0);
    off->addWidget(textField(QStringLiteral("txtTsToGpsOffset"), offsets), 0, 1);
    off->addWidget(new QLabel(QStringLiteral("Hrs"), offsets), 0, 2);
    off->addWidget(new QLabel(QStringLiteral("IRIG-B"), offsets), 1, 0);
    off->addWidget(textField(QStringLiteral("txtTsToIrigOffset"), offsets), 1, 1);
    off->addWidget(new QLabel(QStringLiteral("Hrs"), offsets), 1, 2);
    off->setColumnStretch(3, 1);
    grid->addWidget(offsets, 1, 0);

    QGroupBox* dst = frame(QStringLiteral("fraTsDst"), QStringLiteral("Daylight Saving Time"), page);
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
        naturalWidth(settingFields_.value(QString::fromLatin1(name)), 7, true);
    grid->addWidget(dst, 2, 0);

    auto indicatorFrame = [&](const char* name, const char* caption,
                              std::initializer_list<std::pair<const char*, const char*>> items) {
        QGroupBox* box = frame(QString::fromLatin1(name), QString::fromLatin1(caption), page);
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

    QGroupBox* timeSet = frame(QStringLiteral("fraTsTimeSet"), QStringLiteral("Time Set"), page);
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

QWidget* ChronelMain::buildFlashTab() { return new FlashTab(*flash_); }

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
            model_->settings().*member = fromQt(box->checkState());
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

void ChronelMain::bindPointRows()
{
    for (int r = 0; r < PointPage::MaxRows; ++r) {
        const RowControls& rc = rows_[std::size_t(r)];
        auto bindText = [this, r](QLineEdit* edit, QString PointRow::*member) {
            connect(edit, &QLineEdit::textEdited, this, [this, r, edit, member](const QString& text) {
                model_->page().row(r).*member = text;
                model_->clearFieldNote(edit->objectName(), r);
                model_->noteEdited();
            });
        };
        bindText(rc.filter, &PointRow::SsPcFilter);
        bindText(rc.debounce, &PointRow::SsPcDebounce);
        bindText(rc.chatter, &PointRow::SsPcChatter);
        bindText(rc.description, &PointRow::SsPcDescription);
        bindText(rc.off, &PointRow::SsPcOff);
        bindText(rc.on, &PointRow::SsPcOn);
        connect(rc.enable, &QCheckBox::clicked, this, [this, r, box = rc.enable] {
            model_->page().row(r).SsPcEnable = fromQt(box->checkState());
            model_->noteEdited();
        });
    }
    connect(pointScroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (!refreshing_)
            model_->showPointPage(value);
    });
}

// ---------------------------------------------------------------------------
// Binding: model → screen

void ChronelMain::refreshSettings()
{
    refreshing_ = true;
    ModuleSettings& s = model_->settings();
    for (auto it = settingFields_.cbegin(); it != settingFields_.cend(); ++it) {
        if (const QString* field = TextField(s, it.key()))
            setText(it.value(), *field);
    }
    for (const CheckBinding& b : CheckBoxes())
        checkBoxes_.value(QString::fromLatin1(b.control))->setCheckState(toQt(s.*b.member));
    for (const ListBinding& b : Lists()) {
        QComboBox* combo = lists_.value(QString::fromLatin1(b.control));
        const int position = s.*b.member;
        combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
    }
    chooseOption(*eventBufferGroup_, s.ConfigEventBufferType);
    chooseOption(*tcpipModeGroup_, s.ConfigTcpipMode == TcpipMode::None ? -1 : int(s.ConfigTcpipMode));
    chooseOption(*tcpipSpeedGroup_, s.ConfigTcpipSpeed == TcpipSpeed::None ? -1 : int(s.ConfigTcpipSpeed));
    chooseOption(
        *ethernetCommGroup_, s.ConfigTcpipEthernetComm == EthernetComm::None ? -1 : int(s.ConfigTcpipEthernetComm));
    for (QAbstractButton* b : ethernetCommGroup_->buttons())
        b->setEnabled(s.ConfigTcpipEthernetCommEnabled);
    refreshing_ = false;
    refreshFieldNotes();
}

void ChronelMain::refreshPointPage()
{
    refreshing_ = true;
    const PointPage& page = model_->page();
    for (int r = 0; r < PointPage::MaxRows; ++r) {
        const RowControls& rc = rows_[std::size_t(r)];
        const bool shown = r < page.rows();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 rc.pointNum, rc.enable, rc.filter, rc.debounce, rc.chatter, rc.description, rc.off, rc.on})
            w->setVisible(shown);
        if (!shown)
            continue;
        const PointRow& row = page.row(r);
        rc.pointNum->setText(row.SsPcPointNum);
        rc.enable->setCheckState(toQt(row.SsPcEnable));
        setText(rc.filter, row.SsPcFilter);
        setText(rc.debounce, row.SsPcDebounce);
        setText(rc.chatter, row.SsPcChatter);
        setText(rc.description, row.SsPcDescription);
        setText(rc.off, row.SsPcOff);
        setText(rc.on, row.SsPcOn);
    }
    pointScroll_->setRange(0, page.maxTop());
    pointScroll_->setPageStep(page.rows());
    pointScroll_->setValue(page.top());
    pointScroll_->setVisible(page.maxTop() > 0);
    refreshing_ = false;
    refreshFieldNotes();
}

void ChronelMain::refreshPointStatus()
{
    const PointStatusIndicators& colours = model_->pointStatus();
    for (int i = 0; i < 32; ++i)
        setIndicator(pointStatus_[std::size_t(i)], colours[std::size_t(i)] == IndicatorColour::Green);
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
