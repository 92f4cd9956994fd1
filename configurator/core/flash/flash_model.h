#pragma once
// The Flash tab without its widgets: the flash image, the status text and
// progress bar, the enabled state of the three buttons, Load File, Program
// and Verify.
//
// Program and Verify are enabled by a load that succeeded and disabled by
// one that failed. While a load or a flash sequence runs, Load File is
// disabled (a new load would change the image under a running sequence);
// Program and Verify are disabled during a load.
//
// Runs on the window's thread.
#include "core/link/channel_set.h"
#include "flash_image.h"
#include "flash_loader.h"
#include "flash_sequence.h"
#include "flash_status.h"

#include <QObject>
#include <QString>

#include <functional>

namespace chronel {

// The file dialog's filter, in the dialog's "description|pattern" form.
inline QString FlashFileFilter() { return QStringLiteral("Flash Files (*.hex)|*.hex"); }

class FlashModel : public QObject {
    Q_OBJECT
public:
    // Shows the open dialog and returns the chosen file; empty when the user
    // cancelled.
    using FileChooser = std::function<QString()>;

    FlashModel(ChannelSet& channels, std::function<QString()> hostText, QObject* parent = nullptr);

    const FlashImage& image() const { return image_; }
    FlashStatus& status() { return status_; }
    const FlashStatus& status() const { return status_; }
    FlashSequence& sequence() { return sequence_; }

    bool loadEnabled() const { return !loading_ && !sequence_.running(); }
    bool programEnabled() const { return loaded_ && !loading_; }
    bool verifyEnabled() const { return programEnabled(); }
    bool loading() const { return loading_; }

    // Load File: the scan polls stop, the dialog is shown, the file is read
    // line by line (`eachLine` before each) and the polls restart. A
    // cancelled dialog or a file that cannot be opened leaves the image and
    // the buttons as they were, with a status line saying so. True when a
    // file was loaded without errors.
    bool loadFile(const FileChooser& choose, const LineHook& eachLine = {});
    // Program Flash and Verify Flash; false when refused.
    bool program();
    bool verify();

signals:
    void buttonsChanged();

private:
    void setLoading(bool loading);

    ChannelSet& channels_;
    FlashImage image_;
    FlashStatus status_;
    FlashSequence sequence_;
    bool loaded_ = false;
    bool loading_ = false;
};

} // namespace chronel
