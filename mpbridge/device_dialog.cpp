#include "device_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cstring>

namespace mpbridge {
namespace {

constexpr int kTextSize = MBX_DESCRIPTION_TEXT_SIZE;
constexpr int kDeviceRole = Qt::UserRole;
constexpr int kNameBytesRole = Qt::UserRole + 1;

// One MbxReadDeviceDescriptionA result. The driver fills fixed 64-byte
// buffers; nothing is trusted to be terminated, so every text is cut at the
// first zero or at the end of its buffer.
struct Description {
    std::int32_t physical = 0;
    std::int32_t device = -1;
    std::array<std::array<char, kTextSize>, 4> texts{};
    std::array<std::int32_t, 4> lengths{};

    enum Text { Protocol = 0, Card = 1, Name = 2, DeviceDescription = 3 };

    // `enumeration` 0 reads device `wanted` by number, otherwise the device
    // at the enumeration's position.
    bool read(const MbxApi& api, std::uint32_t enumeration, std::int32_t wanted)
    {
        for (auto& text : texts)
            text.fill('\0');
        lengths.fill(kTextSize);
        physical = 0;
        device = wanted;
        return api.readDeviceDescription(enumeration, &physical, &device, texts[Protocol].data(), &lengths[Protocol],
                   texts[Card].data(), &lengths[Card], texts[Name].data(), &lengths[Name],
                   texts[DeviceDescription].data(), &lengths[DeviceDescription]) == 0;
    }

    QByteArray bytes(Text which) const
    {
        const auto& text = texts[which];
        const auto end = std::find(text.begin(), text.end(), '\0');
        return QByteArray(text.data(), static_cast<qsizetype>(end - text.begin()));
    }

    QString text(Text which) const { return QString::fromLocal8Bit(bytes(which)); }
};

QLabel* ValueLabel(const QString& initial, const char* objectName)
{
    auto* label = new QLabel(initial);
    label->setObjectName(QLatin1String(objectName));
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

DeviceDialog::DeviceDialog(const MbxApi* api, QWidget* parent) : QDialog(parent), api_(api)
{
    setObjectName(QStringLiteral("MBXDevices"));
    setWindowTitle(QStringLiteral("MBX Devices"));

    auto* listFrame = new QGroupBox(QStringLiteral("Available MBX Devices"));
    listFrame->setObjectName(QStringLiteral("fraDevices"));
    devices_ = new QComboBox;
    devices_->setObjectName(QStringLiteral("cmbDevices"));
    auto* listLayout = new QVBoxLayout(listFrame);
    listLayout->addWidget(devices_);

    auto* detailsFrame = new QGroupBox(QStringLiteral("Device Details"));
    detailsFrame->setObjectName(QStringLiteral("fraDetails"));
    physical_ = ValueLabel(QStringLiteral("Physical"), "lblPhysical");
    number_ = ValueLabel(QStringLiteral("0"), "lblDeviceNumber");
    protocol_ = ValueLabel(QStringLiteral("Protocol"), "lblProtocol");
    cardDescription_ = ValueLabel(QStringLiteral("Card Descr"), "lblCardDescription");
    deviceDescription_ = ValueLabel(QStringLiteral("Device Descr"), "lblDeviceDescription");
    auto* details = new QGridLayout(detailsFrame);
    const std::pair<const char*, QLabel*> rows[] = {
        {"Physical/Logical", physical_},
        {"Device Number", number_},
        {"Netwrok Protocol", protocol_},
        {"Card Description", cardDescription_},
        {"Device Description", deviceDescription_},
    };
    int row = 0;
    for (const auto& [caption, value] : rows) {
        details->addWidget(new QLabel(QLatin1String(caption)), row, 0);
        details->addWidget(value, row, 1);
        ++row;
    }
    details->setColumnStretch(1, 1);

    ok_ = new QPushButton(QStringLiteral("OK"));
    ok_->setObjectName(QStringLiteral("cmdOK"));
    ok_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listFrame);
    layout->addWidget(detailsFrame);
    layout->addStretch(1);
    layout->addLayout(buttons);

    // The dialog's extent of 234 x 157 dialog units: a quarter of the average
    // character width and an eighth of the line height per unit.
    const QFontMetrics metrics(font());
    resize(234 * metrics.averageCharWidth() / 4, 157 * metrics.height() / 8);

    // An empty list has nothing OK could return, so OK waits for an entry.
    ok_->setEnabled(false);

    connect(devices_, &QComboBox::currentIndexChanged, this, [this] { showDetails(); });
    connect(ok_, &QPushButton::clicked, this, [this] { confirm(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void DeviceDialog::fillDeviceList()
{
    devices_->blockSignals(true);
    devices_->clear();
    std::uint32_t enumeration = 0;
    const bool opened = api_ != nullptr && api_->openDeviceDescriptionEnum(&enumeration) == 0;
    if (opened) {
        addCurrentDevice(enumeration);
        while (api_->deviceDescriptionEnumNext(enumeration) == 0)
            addCurrentDevice(enumeration);
        api_->closeDeviceDescriptionEnum(enumeration);
    }
    devices_->blockSignals(false);

    if (!opened) {
        ok_->setEnabled(false);
        QMessageBox box(QMessageBox::Information, windowTitle(), QStringLiteral("No MBX Devices Configured"),
            QMessageBox::Ok, parentWidget());
        box.exec();
        return;
    }
    ok_->setEnabled(devices_->count() > 0);
    if (devices_->count() > 0) {
        devices_->setCurrentIndex(0);
        showDetails();
    }
}

void DeviceDialog::addCurrentDevice(std::uint32_t enumeration)
{
    Description description;
    if (!description.read(*api_, enumeration, -1) || description.physical == 0)
        return;
    QByteArray name = description.bytes(Description::Name);
    name.replace(' ', '_');
    devices_->addItem(QString::fromLocal8Bit(name));
    const int index = devices_->count() - 1;
    devices_->setItemData(index, description.device, kDeviceRole);
    devices_->setItemData(index, name, kNameBytesRole);
}

void DeviceDialog::showDetails()
{
    const int index = devices_->currentIndex();
    if (api_ == nullptr || index < 0)
        return;
    Description description;
    if (!description.read(*api_, 0, devices_->itemData(index, kDeviceRole).toInt()))
        return;
    physical_->setText(description.physical != 0 ? QStringLiteral("Physical") : QStringLiteral("Logical"));
    number_->setText(QString::number(description.device));
    protocol_->setText(description.text(Description::Protocol));
    cardDescription_->setText(description.text(Description::Card));
    deviceDescription_->setText(description.text(Description::DeviceDescription));
}

void DeviceDialog::confirm()
{
    const int index = devices_->currentIndex();
    if (index < 0)
        return;
    choice_ = DeviceChoice{
        devices_->itemData(index, kDeviceRole).toInt(), devices_->itemData(index, kNameBytesRole).toByteArray()};
    accept();
}

} // namespace mpbridge

// The plugin's entry, called by MBXSelectDevice on the GUI thread of a widget
// application.
extern "C" void mpbridge_select_device(const mpbridge::MbxApi* api, int* device, char* name)
{
    mpbridge::DeviceDialog dialog(api, QApplication::activeWindow());
    dialog.fillDeviceList();
    if (dialog.exec() != QDialog::Accepted || device == nullptr || !dialog.choice())
        return;
    const mpbridge::DeviceChoice& choice = *dialog.choice();
    *device = choice.device;
    if (name != nullptr)
        std::memcpy(name, choice.name.constData(),
            static_cast<std::size_t>(std::min<qsizetype>(choice.name.size(), mpbridge::kTextSize)));
}
