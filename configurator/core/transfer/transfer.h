#pragma once
// The Transfer menu: the upload and the download on the window's model, of
// which at most one runs. Starting one while the other runs stops the other
// at once and silently; the new one takes over the progress display.
//
// Runs on the window's thread.
#include "download_sequence.h"
#include "upload_sequence.h"

#include <QObject>

namespace chronel {

class Transfer : public QObject {
    Q_OBJECT
public:
    // Failure messages go to `sink` (message boxes when empty).
    explicit Transfer(ChronelModel& model, MessageSink sink = {}, QObject* parent = nullptr);

    UploadSequence& upload() { return upload_; }
    DownloadSequence& download() { return download_; }
    bool running() const { return upload_.running() || download_.running(); }

    // mnuTransferUpload, mnuTransferDownload.
    void startUpload();
    void startDownload();

    // Both sequences' poll interval (500 ms unless set).
    void setPollInterval(int ms);

signals:
    // A sequence started, or ended in any way.
    void runningChanged(bool running);

private:
    UploadSequence upload_;
    DownloadSequence download_;
};

} // namespace chronel
