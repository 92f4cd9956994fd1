#pragma once
// The small window "Arvenco VEXA Modbus/Modbus Plus Driver" that tells the
// user which adapter is being started on which port. Modeless, without an
// owner, centred on the screen and visible as soon as it is created; laid
// out in dialog units of its 8-point font.
//
// Thread safety: GUI thread only (it is a widget).
#include "driver/startup_display.h"

#include <QDialog>

class QLabel;

namespace plcdrv {

class StatusWindow final : public QDialog, public StartupDisplay {
public:
    static constexpr const char* kTitle = "Arvenco VEXA Modbus/Modbus Plus Driver";

    StatusWindow();
    ~StatusWindow() override;

    void setCaption(const QString& caption) override;
    void setStatusText(const QString& text) override;

    QString statusText() const { return statusText_; }
    // The rectangle of a control given in dialog units.
    QRect dialogUnits(int x, int y, int width, int height) const;

private:
    // Paints at once: the start runs on the GUI thread without returning to
    // its event loop until the adapter is up.
    void refresh();

    QString statusText_;
    QLabel* status_ = nullptr;
};

} // namespace plcdrv
