#include "regaccess/property_page.h"

#include "regaccess/plctag.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace regaccess {

namespace {

const char* const HelpProperty = "helpLine";

constexpr std::array<const char*, 13> FunctionHelp{
    "Read a block of .RegType data points from PLC",
    "Write a block of .RegType data points to PLC",
    "Get PLC Exception Status",
    "Return Slave ID Information",
    "Scan for Disabled Coils and Inputs",
    "Return Logical Adapter Statistics",
    "Clear Logical Adapter Statistics",
    "Read from Logical Adapter Global Memory Table",
    "Write to Logical Adapter Global Memory Table",
    "Read Modbus Plus Network Statistics",
    "Clear Modbus Plus Network Statistics",
    "Read Modbus Plus Network Global Memory Table",
    "Write Modbus Plus Network Global Memory Table",
};

constexpr std::array<const char*, 4> RegTypeHelp{
    "Operate on a block of PLC COIL bits (Discrete Outputs)",
    "Operate on a block of PLC INPUT Bits (Discrete Inputs)",
    "Operate on a block of PLC INPUT Registers (Analog Inputs)",
    "Operate on a block of PLC HOLDING Registers (Analog Outputs)",
};

constexpr int MaxTextLength = 32;

void SelectIfListed(QComboBox* list, int index)
{
    // A value the list cannot show (set through automation) leaves the list
    // without a selection, and apply then leaves that property alone.
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

} // namespace

QString PropertyPage::functionHelp(int function)
{
    if (function < 0 || function >= static_cast<int>(FunctionHelp.size()))
        return {};
    return QString::fromLatin1(FunctionHelp[static_cast<std::size_t>(function)]);
}

QString PropertyPage::regTypeHelp(int regType)
{
    if (regType < 0 || regType >= static_cast<int>(RegTypeHelp.size()))
        return {};
    return QString::fromLatin1(RegTypeHelp[static_cast<std::size_t>(regType)]);
}

PropertyPage::PropertyPage(Plctag& control, QWidget* parent) : QDialog(parent), control_(control)
{
    setWindowTitle(QStringLiteral("Control Settings"));
    setObjectName(QStringLiteral("ControlSettings"));
    auto* outer = new QVBoxLayout(this);
    grid_ = new QGridLayout;
    outer->addLayout(grid_);

    host_ = addText("Host", 0, 0, QStringLiteral("IP Address of Gateway Server"));
    port_ = addText("Port", 1, 0, QStringLiteral("UDP Port Number for Gateway Server"));
    timeToLive_ = addText("TimeToLive", 2, 0, QStringLiteral("Max Time (secs.) to Wait for Server Reply"));
    QStringList adapters;
    for (int i = 0; i < 8; ++i)
        adapters << QString::asprintf("%d - Adapter %d", i, i);
    adapter_ = addList("Adapter", 3, 0, adapters, QStringLiteral("Logical Adapter to Use"));
    routePath_ = addText("RoutePath", 4, 0, QStringLiteral("PLC Network (Node) Address"));
    regType_ = addList("RegType", 0, 2,
        {QStringLiteral("0 - 0xxxx (Coils)"), QStringLiteral("1 - 1xxxx (Inputs)"),
            QStringLiteral("2 - 3xxxx (Input Regs)"), QStringLiteral("3 - 4xxxx (Hold Regs)")},
        QStringLiteral("PLC Register Type to Read/Write"));
    address_ = addText("Address", 1, 2, QStringLiteral("Starting Register Address (Offset) 1-65535"));
    function_ = addList("Function", 2, 2, {QStringLiteral("0 - Read Regs"), QStringLiteral("1 - Write Regs")},
        QStringLiteral("Type of Command to Execute"));
    size_ = addText("Size", 3, 2, QStringLiteral("Number of Data Points to Read/Write"));
    slaveReg_ = addText("SlaveReg", 4, 2, QStringLiteral("Starting Register Address for Unsolicited Messages"));

    help_ = new QLabel(this);
    help_->setObjectName(QStringLiteral("helpLine"));
    help_->setFrameShape(QFrame::Panel);
    help_->setFrameShadow(QFrame::Sunken);
    help_->setMinimumHeight(help_->fontMetrics().height() + 6);
    outer->addWidget(help_);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    outer->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &PropertyPage::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PropertyPage::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { apply(); });

    load();
    connect(regType_, &QComboBox::currentIndexChanged, this, [this](int index) { help_->setText(regTypeHelp(index)); });
    connect(
        function_, &QComboBox::currentIndexChanged, this, [this](int index) { help_->setText(functionHelp(index)); });
    // About 250 × 110 dialog units.
    const int unitX = fontMetrics().averageCharWidth();
    const int unitY = fontMetrics().height();
    resize(std::max(sizeHint().width(), 250 * unitX / 4), std::max(sizeHint().height(), 110 * unitY / 8));
}

QLineEdit* PropertyPage::addText(const char* name, int row, int column, const QString& help)
{
    auto* field = new QLineEdit(this);
    field->setObjectName(QLatin1String(name));
    field->setProperty(HelpProperty, help);
    field->installEventFilter(this);
    auto* label = new QLabel(QLatin1String(name), this);
    label->setBuddy(field);
    grid_->addWidget(label, row, column);
    grid_->addWidget(field, row, column + 1);
    return field;
}

QComboBox* PropertyPage::addList(const char* name, int row, int column, const QStringList& entries, const QString& help)
{
    auto* field = new QComboBox(this);
    field->setObjectName(QLatin1String(name));
    field->addItems(entries);
    field->setProperty(HelpProperty, help);
    field->installEventFilter(this);
    auto* label = new QLabel(QLatin1String(name), this);
    label->setBuddy(field);
    grid_->addWidget(label, row, column);
    grid_->addWidget(field, row, column + 1);
    return field;
}

void PropertyPage::load()
{
    host_->setText(control_.Host());
    // Port is kept as a 16-bit number; the page shows it as the port number it is.
    port_->setText(QString::number(static_cast<quint16>(control_.Port())));
    timeToLive_->setText(QString::number(control_.TimeToLive()));
    SelectIfListed(adapter_, control_.Adapter());
    routePath_->setText(control_.RoutePath());
    SelectIfListed(regType_, control_.RegType());
    address_->setText(QString::number(control_.Address()));
    SelectIfListed(function_, control_.Function());
    size_->setText(QString::number(control_.Size()));
    slaveReg_->setText(QString::number(control_.SlaveReg()));
}

QString PropertyPage::helpText() const { return help_->text(); }

QMessageBox* PropertyPage::rangeMessage() const { return rangeMessage_.data(); }

bool PropertyPage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        const QVariant help = watched->property(HelpProperty);
        if (help.isValid())
            help_->setText(help.toString());
    }
    return QDialog::eventFilter(watched, event);
}

bool PropertyPage::refuse(QWidget* field, const QString& message)
{
    field->setFocus(Qt::OtherFocusReason);
    if (auto* text = qobject_cast<QLineEdit*>(field))
        text->selectAll();
    if (rangeMessage_)
        rangeMessage_->close();
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("rangeMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, field, [field] { field->setFocus(Qt::OtherFocusReason); });
    rangeMessage_ = box;
    box->open();
    return false;
}

bool PropertyPage::checkNumber(QLineEdit* field, qint64 low, qint64 high, qint64& value)
{
    bool ok = false;
    value = field->text().trimmed().toLongLong(&ok);
    if (!ok)
        return refuse(field, QStringLiteral("Please enter an integer."));
    if (value < low || value > high)
        return refuse(field, QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high));
    return true;
}

bool PropertyPage::checkLength(QLineEdit* field, int maxLength)
{
    if (field->text().size() > maxLength)
        return refuse(field, QStringLiteral("Please enter no more than %1 characters.").arg(maxLength));
    return true;
}

bool PropertyPage::apply()
{
    qint64 port = 0, timeToLive = 0, address = 0, size = 0, slaveReg = 0;
    if (!checkLength(host_, MaxTextLength) || !checkNumber(port_, 1, 65535, port) ||
        !checkNumber(timeToLive_, 1, 32627, timeToLive) || !checkLength(routePath_, MaxTextLength) ||
        !checkNumber(address_, 1, 65536, address) || !checkNumber(size_, 1, 2000, size) ||
        !checkNumber(slaveReg_, 40001, 49999, slaveReg))
        return false;

    control_.setHost(host_->text());
    control_.setPort(static_cast<int>(port));
    control_.setTimeToLive(static_cast<int>(timeToLive));
    if (adapter_->currentIndex() >= 0)
        control_.setAdapter(adapter_->currentIndex());
    control_.setRoutePath(routePath_->text());
    if (regType_->currentIndex() >= 0)
        control_.setRegType(regType_->currentIndex());
    control_.setAddress(static_cast<qint32>(address));
    if (function_->currentIndex() >= 0)
        control_.setFunction(function_->currentIndex());
    control_.setSize(static_cast<int>(size));
    control_.setSlaveReg(static_cast<qint32>(slaveReg));
    return true;
}

void PropertyPage::accept()
{
    if (apply())
        QDialog::accept();
}

void showPropertyPage(Plctag& control, QWidget* parent)
{
    PropertyPage page(control, parent);
    page.exec();
}

} // namespace regaccess
