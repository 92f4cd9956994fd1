// Validate and Apply: how the selections of the window reach the adapter
// table, and the one check that can refuse them.
#include "drvsetup/setup_window.h"

#include "platform/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>

namespace drvsetup {
namespace {

// A list without a selection (its value in the file was outside the list)
// keeps the record's value rather than storing -1.
void StoreSelection(const QComboBox* list, int& field)
{
    if (list->currentIndex() >= 0)
        field = list->currentIndex();
}

} // namespace

bool SetupWindow::validate()
{
    if (deviceTypeList_->currentIndex() != SerialDevice)
        return true;
    const int other = table_.comPortConflict(selectedAdapter(), comPortList_->currentIndex());
    if (other < 0)
        return true;
    // The adapter is named as the "Adapter" list shows it, 0 to 7.
    QApplication::beep();
    platform::MessageBox(QStringLiteral("WARNING"),
        QStringLiteral("Comm Port setting conflicts with Adapter ") + QString::number(other),
        platform::MessageIcon::Warning);
    return false;
}

void SetupWindow::apply()
{
    AdapterRecord& r = table_.record(selectedAdapter());
    r.enabled = enabledBox_->isChecked() ? 1 : 0;
    if (validate()) {
        StoreSelection(deviceTypeList_, r.deviceType);
        StoreSelection(protocolList_, r.protocol);
        StoreSelection(comPortList_, r.comIndex);
        StoreSelection(linkSpeedList_, r.linkSpeed);
        StoreSelection(slaveIdList_, r.slaveId);
        r.cardName = cardName_;
        r.cardNumber = cardNumber_;
    }
    // Also after a refused selection: the enabled state was stored.
    table_.setChangesApplied(true);
}

} // namespace drvsetup
