#pragma once
// The "MBX Devices" dialog behind MBXSelectDevice: lists the physical devices
// the MBX driver describes, shows the details of the selected one and hands
// the chosen device number and name back to the caller.
#include "mpbridge/mbx_binding.h"

#include <QByteArray>
#include <QDialog>

#include <cstdint>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace mpbridge {

// What the user confirmed with OK: the device number and the list text as
// the driver's bytes (spaces of the device name replaced by '_').
struct DeviceChoice {
    std::int32_t device = -1;
    QByteArray name;
};

class DeviceDialog : public QDialog {
    Q_OBJECT
public:
    // `api` is null when the MBX driver is not available; the dialog then
    // behaves as for a driver whose enumeration cannot be opened.
    explicit DeviceDialog(const MbxApi* api, QWidget* parent = nullptr);

    // Fills the list from the driver's device enumeration and shows the
    // first device. When the enumeration cannot be opened the user is told
    // "No MBX Devices Configured" (a modal message) and OK stays disabled.
    void fillDeviceList();

    // Set once the dialog was closed with OK.
    const std::optional<DeviceChoice>& choice() const { return choice_; }

private:
    void addCurrentDevice(std::uint32_t enumeration);
    void showDetails();
    void confirm();

    const MbxApi* api_;
    std::optional<DeviceChoice> choice_;
    QComboBox* devices_ = nullptr;
    QLabel* physical_ = nullptr;
    QLabel* number_ = nullptr;
    QLabel* protocol_ = nullptr;
    QLabel* cardDescription_ = nullptr;
    QLabel* deviceDescription_ = nullptr;
    QPushButton* ok_ = nullptr;
};

} // namespace mpbridge

// The whole of MBXSelectDevice, the entry of the widget plugin
// libmpbridge_widgets.so: runs the dialog modally over the active window; on
// OK with a non-null `device` stores the number there and copies the name (at
// most 64 bytes, no terminating zero) to `name`. The bridge calls it only on
// the GUI thread of a widget application; elsewhere MBXSelectDevice returns
// as if cancelled, leaving both outputs untouched.
extern "C" void mpbridge_select_device(const mpbridge::MbxApi* api, int* device, char* name);
