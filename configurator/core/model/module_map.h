#pragma once
// The module's register map as the configurator and chronel-cli address it:
// every coil, input bit and holding register they read or write, the size of
// each block, and the poll intervals of the channels. Numbers are 1-based
// references (the channel's Address); word k of a block is register first + k.
// The layouts inside the blocks live with their decoders (status_block.h,
// statistics.h, event_record.h, register_map.cpp). The simulator keeps its own
// map on purpose, as an independent check of this one.
//
//   coil 1            event available
//   coil 2            acknowledge, written with 1
//   input bits 1 … 31 point scan
//   1 … 100           configuration block (an upload reads 100 words, a
//                     download writes words 0 … 59)
//   101               Module ID, also word 0 of the event block
//   101 … 200         event block
//   200 … 299         status block (the time setup reads words 0 … 23)
//   301 … 1452        point blocks, 18 blocks of 64 registers
//   1491              download start, written first with 0x55AA
//   1501 … 1600       statistics block; 1577 test mode, 1578 … 1579 test inputs
//   16385 …           flash data window, one 64-word block per 128 image bytes
//   32766 … 32767     flash progress patterns (programming, verify)
//   32767 … 32771     flash erase command
#include <QtGlobal>

namespace chronel {

// Coils and input bits.
constexpr int EventAvailableCoil = 1;
constexpr int AcknowledgeCoil = 2;
constexpr int PointScanBit = 1;
constexpr int PointScanBits = 31;

// Configuration, Module ID and download start.
constexpr int ConfigBlockRegister = 1;
constexpr int ConfigBlockReadWords = 100;
constexpr int ConfigBlockWriteWords = 60;
constexpr int ModuleIdRegister = 101;
constexpr int DownloadStartRegister = 1491;
constexpr qint16 DownloadStartCode = 0x55AA;

// Event, status and statistics blocks, the event scan's reads.
constexpr int EventBlockRegister = 101;
constexpr int EventBlockWordCount = 100;
constexpr int StatusBlockRegister = 200;
constexpr int StatusBlockWordCount = 100;
constexpr int StatusBlockTimeSetupWords = 24;
constexpr int StatisticsBlockRegister = 1501;
constexpr int StatisticsBlockWordCount = 100;
constexpr int TestModeRegister = 1577;   // statistics word 76
constexpr int TestInputsRegister = 1578; // statistics words 77 and 78
constexpr int TestInputsWords = 2;
static_assert(StatusBlockTimeSetupWords <= StatusBlockWordCount);
static_assert(TestModeRegister + 1 == TestInputsRegister &&
    TestInputsRegister + TestInputsWords <= StatisticsBlockRegister + StatisticsBlockWordCount);

// Point blocks.
constexpr int PointBlockWords = 64;
constexpr int PointBlockCount = 18;
// First register of point block b (0 … 17): 301 + 64 b.
constexpr int PointBlockRegister(int block) { return 301 + PointBlockWords * block; }
constexpr int LastPointBlockRegister = PointBlockRegister(PointBlockCount - 1);
static_assert(LastPointBlockRegister == 1389);

// Flash: the data window register advances by one per 32 image bytes.
constexpr qint32 FlashDataRegister = 16385;
constexpr int FlashBlockBytes = 128;
constexpr int FlashBlockWords = FlashBlockBytes / 2;
constexpr qint32 FlashProgressRegister = 32766; // word 0 programming, word 1 verify
constexpr int FlashProgressWords = 2;
constexpr qint32 FlashEraseRegister = 32767;
constexpr int FlashEraseWords = 5;
// The data window register of the block at image position `offset`.
constexpr qint32 FlashBlockRegister(quint32 offset) { return FlashDataRegister + qint32(offset / 32); }

// Poll intervals, ms.
constexpr int EventScanStartInterval = 2000; // from start-up until a transfer or flash ends
constexpr int EventScanPollInterval = 1000;  // once a transfer or flash sequence ended
constexpr int TimeSetupPollInterval = 2000;  // once a download or flash sequence ended
constexpr int TransferPollInterval = 500;    // between the requests of an upload or download
constexpr int FlashPollInterval = 10;        // between the requests of Program and Verify

} // namespace chronel
