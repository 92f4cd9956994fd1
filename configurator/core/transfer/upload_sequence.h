#pragma once
// Transfer > Upload: reads the module's whole configuration into the window
// on modConfigRead, one block per completed read. The channel's Address names
// the block just read:
//
//   1      configuration block, 100 words  → Module ID
//   101    Module ID, 1 word               → point block 301
//   301 … 1325, steps of 64                → the next point block
//   1389   last point block                → done: the page shows the table,
//                                            the event scan polls again
//
// Every point block is shown on the page as soon as it is in the table, so a
// scroll during the upload stores rows that already hold the uploaded values.
// Time setup polling stays stopped after an upload.
#include "transfer_sequence.h"

namespace chronel {

class UploadSequence : public TransferSequence {
    Q_OBJECT
public:
    UploadSequence(ChronelModel& model, MessageSink sink = {}, QObject* parent = nullptr);

    // Stops the scans and the download's channel, shows "Uploading" and sends
    // the first read. Starting again while running restarts from block 1 with
    // the error count at 0.
    void start();

private:
    void onReadDone();
    void finish();
    void fail();
};

} // namespace chronel
