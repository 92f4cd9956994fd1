#pragma once
// Transfer > Download: writes the window's configuration into the module on
// modConfigWrite. The channel's Address names the block just written; its
// completion fills the register buffer with the next block:
//
//   1491   download start code 0x55AA      → configuration block, words 0 … 59
//   1      configuration block             → Module ID
//   101    Module ID                       → point block 301
//   301 … 1325, steps of 64                → the next point block
//   1389   last point block                → done: event scan and time setup
//                                            poll again
//
// The eight rows on screen are taken into the point table when the download
// starts; the configuration block is read from the screen when the start
// code has been written. Words of the configuration block that no setting
// fills keep what the write buffer last held.
#include "transfer_sequence.h"

namespace chronel {

class DownloadSequence : public TransferSequence {
    Q_OBJECT
public:
    DownloadSequence(ChronelModel& model, MessageSink sink = {}, QObject* parent = nullptr);

    // Stops the scans and the upload's channel, shows "Downloading", stores
    // the page and writes the start code. Starting again while running
    // restarts from the start code with the error count at 0.
    void start();

private:
    void onWriteDone();
    void fillConfigBlock();
    void fillPointBlock(int firstRegister);
    void finish();
    void fail();
};

} // namespace chronel
