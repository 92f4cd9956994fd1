#include "event_block.h"

#include <algorithm>
#include <cstdio>

#include "module_clock.h"

namespace chronel::sim {
namespace {

bool IsDateKind(uint8_t k) { return k == kind::HourlyTimeUpdate || k == kind::ResyncNewDate || k == kind::Reconfigure; }

void PutKindPointState(EventBlock& b, int at, uint8_t k, uint8_t point, bool state)
{
    unsigned p = point > 0 ? point - 1u : 0u;
    PutByte(b, at, static_cast<uint8_t>((k & 0x1F) | ((p & 0x07) << 5)));
    PutByte(b, at + 1, static_cast<uint8_t>(((p >> 3) & 0x03) | (state ? 0x04 : 0)));
}

uint8_t SourceDstBits(const SerEvent& e)
{
    return static_cast<uint8_t>((static_cast<unsigned>(e.source) & 0x03) << 6 | (e.dst ? 0x20 : 0));
}

void PutType0Time(EventBlock& b, int at, const SerEvent& e, uint8_t k)
{
    CivilTime t = CivilFromSeconds(e.seconds);
    PutKindPointState(b, at, k, e.point, e.state);
    unsigned ms = e.millisecond % 1000u;
    PutByte(b, at + 2, static_cast<uint8_t>(ms & 0xFF));
    PutByte(b, at + 3, static_cast<uint8_t>(((ms >> 8) & 0x03) | ((t.second & 0x3F) << 2)));
    PutByte(b, at + 4, static_cast<uint8_t>(t.minute & 0x3F));
    PutByte(b, at + 5, static_cast<uint8_t>((t.hour & 0x1F) | SourceDstBits(e)));
}

void PutType0Date(EventBlock& b, int at, const SerEvent& e, uint8_t k)
{
    CivilTime t = CivilFromSeconds(e.seconds);
    PutKindPointState(b, at, k, e.point, e.state);
    PutByte(b, at + 2, static_cast<uint8_t>((t.month & 0x0F) | ((t.day & 0x0F) << 4)));
    PutByte(b, at + 3, static_cast<uint8_t>(((t.day >> 4) & 0x01) | ((t.hour & 0x1F) << 1)));
    PutByte(b, at + 4, static_cast<uint8_t>(t.year & 0xFF));
    PutByte(b, at + 5, static_cast<uint8_t>(((t.year >> 8) & 0x0F) | SourceDstBits(e)));
}

// Type 0 carries no date in its time records, so a resync to a new time travels
// as a time record of kind 12 followed by a date record of kind 14.
int Type0Slots(const SerEvent& e) { return e.kind == kind::ResyncNewTime ? 2 : 1; }

void EncodeType0(EncodedBlock& out, std::span<const SerEvent> pending)
{
    int slot = 0;
    for (const SerEvent& e : pending) {
        if (slot + Type0Slots(e) > kType0Capacity)
            break;
        int at = kRecordAreaFirstByte + slot * kType0RecordBytes;
        if (e.kind == kind::ResyncNewTime) {
            PutType0Time(out.words, at, e, kind::ResyncNewTime);
            PutType0Date(out.words, at + kType0RecordBytes, e, kind::ResyncNewDate);
        } else if (IsDateKind(e.kind)) {
            PutType0Date(out.words, at, e, e.kind);
        } else {
            PutType0Time(out.words, at, e, e.kind);
        }
        slot += Type0Slots(e);
        ++out.eventsTaken;
    }
    out.records = slot;
}

void EncodeType1(EncodedBlock& out, std::span<const SerEvent> pending)
{
    if (pending.empty())
        return;
    const SerEvent& e = pending.front();
    CivilTime t = CivilFromSeconds(e.seconds);
    auto& w = out.words;
    w[10] = e.kind;
    w[11] = static_cast<uint16_t>(e.point > 0 ? e.point - 1 : 0);
    w[12] = 0;
    w[13] = e.state ? 1 : 0;
    w[14] = static_cast<uint16_t>(e.millisecond % 1000u);
    w[15] = static_cast<uint16_t>(t.second);
    w[16] = static_cast<uint16_t>(t.minute);
    w[17] = static_cast<uint16_t>(t.hour);
    w[18] = static_cast<uint16_t>(t.day);
    w[19] = static_cast<uint16_t>(t.month);
    w[20] = static_cast<uint16_t>(t.year);
    w[21] = static_cast<uint16_t>(e.source);
    w[22] = e.dst ? 1 : 0;
    out.eventsTaken = 1;
    out.records = 1;
}

void EncodeType2(EncodedBlock& out, std::span<const SerEvent> pending)
{
    size_t n = std::min<size_t>(pending.size(), kType2Capacity);
    for (size_t i = 0; i < n; ++i) {
        const SerEvent& e = pending[i];
        int at = kRecordAreaFirstByte + static_cast<int>(i) * kType2RecordBytes;
        PutKindPointState(out.words, at, e.kind, e.point, e.state);
        unsigned ms = e.millisecond % 1000u;
        PutByte(out.words, at + 2, static_cast<uint8_t>(ms & 0xFF));
        PutByte(out.words, at + 3, static_cast<uint8_t>(((ms >> 8) & 0x03) | SourceDstBits(e)));
        // Signed 32-bit count of seconds, low half first.
        auto s = static_cast<uint32_t>(static_cast<int32_t>(e.seconds));
        for (int k = 0; k < 4; ++k)
            PutByte(out.words, at + 4 + k, static_cast<uint8_t>(s >> (8 * k)));
    }
    out.eventsTaken = n;
    out.records = static_cast<int>(n);
}

void EncodeType3(EncodedBlock& out, std::span<const SerEvent> pending, const PointTexts& texts)
{
    if (pending.empty())
        return;
    std::string line = EventText(pending.front(), texts);
    // The line ends at the first zero byte, so one byte of the area stays zero.
    size_t n = std::min<size_t>(line.size(), kRecordAreaBytes - 1);
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = static_cast<uint8_t>(line[i]);
        if (c == 0)
            break;
        PutByte(out.words, kRecordAreaFirstByte + static_cast<int>(i), c);
    }
    out.eventsTaken = 1;
    out.records = 1;
}

std::string PointNumber(int point) { return " " + std::to_string(point); }

std::string LineBody(const SerEvent& e, const PointTexts* texts)
{
    auto onOff = [&](const char* prefix) {
        return std::string(prefix) + PointNumber(e.point) + (e.state ? "  On" : "  Off");
    };
    switch (e.kind) {
    case kind::InputPoint:
        if (texts && e.point >= 1 && e.point <= 32) {
            size_t p = e.point - 1u;
            return "  " + texts->description[p] + "  " + (e.state ? texts->onText[p] : texts->offText[p]);
        }
        return onOff("  Input Point ");
    case 2: return "  Input Point " + PointNumber(e.point) + "  On Scan";
    case 3: return "  Input Point " + PointNumber(e.point) + "  Off Scan";
    case 4: return "  Input Point " + PointNumber(e.point) + "  Chatter On Scan";
    case 5: return "  Input Point " + PointNumber(e.point) + "  Chatter Off Scan";
    case 6: return "  Power on Reset";
    case 7: return "  SER Time Sync Lock";
    case 8: return "  SER Time Sync Fail";
    case 9: return "  Buffer Overflow";
    case 10: return "  Buffer Error";
    case 11: return "  Time Resync Old Time";
    case 12: return "  Time Resync New Time";
    case 13: return "  Hourly Time Update";
    case 15: return "  Reconfigure";
    case 16: return onOff("  Output Point ");
    case 18: return "  Restart";
    case 19: return "  Power Fail";
    case 20: return "  GPS Time Sync Lock";
    case 21: return "  GPS Time Sync Fail";
    case 22: return "  IRIG-B Time Sync Lock";
    case 23: return "  IRIG-B Time Sync Fail";
    case 24: return "  Test Mode On";
    case 25: return "  Test Mode Off";
    default: return {};
    }
}

} // namespace

void PutByte(EventBlock& block, int byteIndex, uint8_t value)
{
    if (byteIndex < 0 || byteIndex >= 200)
        return;
    uint16_t& w = block[static_cast<size_t>(byteIndex / 2)];
    if (byteIndex % 2 == 0)
        w = static_cast<uint16_t>((w & 0xFF00) | value);
    else
        w = static_cast<uint16_t>((w & 0x00FF) | (value << 8));
}

uint8_t GetByte(const EventBlock& block, int byteIndex)
{
    if (byteIndex < 0 || byteIndex >= 200)
        return 0;
    uint16_t w = block[static_cast<size_t>(byteIndex / 2)];
    return static_cast<uint8_t>(byteIndex % 2 == 0 ? w & 0xFF : w >> 8);
}

std::string EventText(const SerEvent& e, const PointTexts& texts)
{
    CivilTime t = CivilFromSeconds(e.seconds);
    static constexpr const char* kSource[] = {" G ", " F ", " P ", " B "};
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d  %02d:%02d:%02d.%03u%s%s", t.month, t.day, t.year, t.hour,
        t.minute, t.second, e.millisecond % 1000u, e.dst ? "  D " : "  S ",
        kSource[static_cast<unsigned>(e.source) & 3u]);
    return std::string(stamp) + LineBody(e, &texts);
}

EncodedBlock EncodeEventBlock(int bufferType, std::span<const SerEvent> pending, uint16_t moduleId,
    uint16_t pendingTotal, const PointTexts& texts)
{
    EncodedBlock out;
    switch (bufferType) {
    case 0: EncodeType0(out, pending); break;
    case 1: EncodeType1(out, pending); break;
    case 2: EncodeType2(out, pending); break;
    case 3: EncodeType3(out, pending, texts); break;
    default: break;
    }
    out.words[0] = moduleId;
    out.words[1] = static_cast<uint16_t>(bufferType);
    out.words[2] = static_cast<uint16_t>(out.records);
    out.words[5] = pendingTotal;
    return out;
}

} // namespace chronel::sim
