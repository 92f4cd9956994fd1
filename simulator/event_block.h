// Lays out pending SER events as the 100-word event block read at register
// 101, in the record layout of event buffer types 0 ... 3. Pure functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ser_event.h"

namespace chronel::sim {

using EventBlock = std::array<uint16_t, 100>;

inline constexpr int kRecordAreaFirstByte = 20;
inline constexpr int kRecordAreaBytes = 180; // bytes 20 ... 199
inline constexpr int kType0RecordBytes = 6;
inline constexpr int kType2RecordBytes = 8;
inline constexpr int kType0Capacity = kRecordAreaBytes / kType0RecordBytes; // 30
inline constexpr int kType2Capacity = 22;
static_assert(kType0Capacity == 30);
static_assert(kRecordAreaFirstByte + kType2Capacity * kType2RecordBytes <= 200);

// Texts the module uses for its own text lines (buffer type 3).
struct PointTexts {
    std::array<std::string, 32> description;
    std::array<std::string, 32> offText;
    std::array<std::string, 32> onText;
};

struct EncodedBlock {
    EventBlock words{};
    size_t eventsTaken = 0; // events of the queue front this block carries
    int records = 0;        // word 2
};

// Builds the block from the front of `pending`. `bufferType` must be 0 ... 3;
// `moduleId` goes to word 0 and `pendingTotal` to word 5.
EncodedBlock EncodeEventBlock(int bufferType, std::span<const SerEvent> pending, uint16_t moduleId,
    uint16_t pendingTotal, const PointTexts& texts);

// The single text line a type-3 block carries for one event.
std::string EventText(const SerEvent& e, const PointTexts& texts);

// Byte view of a block: byte 2k is the low byte of word k.
void PutByte(EventBlock& block, int byteIndex, uint8_t value);
uint8_t GetByte(const EventBlock& block, int byteIndex);

} // namespace chronel::sim
