#pragma once
// Hand-built event blocks: records packed bit by bit after the module's
// record layouts, independently of the decoder under test.
#include "core/events/event_record.h"

#include <QByteArray>
#include <cstdint>

namespace chronel::test {

class BlockBuilder {
public:
    explicit BlockBuilder(int bufferType, int count = 0)
    {
        words_[1] = qint16(bufferType);
        words_[2] = qint16(count);
    }

    BlockBuilder& count(int n)
    {
        words_[2] = qint16(n);
        return *this;
    }
    BlockBuilder& pending(int n)
    {
        words_[5] = qint16(n);
        return *this;
    }
    BlockBuilder& word(int index, int value)
    {
        words_[std::size_t(index)] = qint16(value);
        return *this;
    }

    // Type 0 time record n.
    BlockBuilder& type0Time(
        int n, int kind, int point, int state, int hour, int minute, int second, int ms, int source = 0, int dst = 0)
    {
        const int base = 20 + 6 * n;
        putKindPointState(base, kind, point, state);
        putByte(base + 2, ms & 0xFF);
        orByte(base + 3, (ms >> 8 & 3) | (second & 0x3F) << 2);
        putByte(base + 4, minute & 0x3F);
        putByte(base + 5, (hour & 0x1F) | (dst & 1) << 5 | (source & 3) << 6);
        return *this;
    }

    // Type 0 date record n (kinds 13, 14, 15).
    BlockBuilder& type0Date(int n, int kind, int month, int day, int year, int hour, int source = 0, int dst = 0)
    {
        const int base = 20 + 6 * n;
        putKindPointState(base, kind, 1, 0);
        putByte(base + 2, (month & 0xF) | (day & 0xF) << 4);
        orByte(base + 3, (day >> 4 & 1) | (hour & 0x1F) << 1);
        putByte(base + 4, year & 0xFF);
        putByte(base + 5, (year >> 8 & 0xF) | (dst & 1) << 5 | (source & 3) << 6);
        return *this;
    }

    // Type 2 record n.
    BlockBuilder& type2(
        int n, int kind, int point, int state, std::int32_t seconds, int ms, int source = 0, int dst = 0)
    {
        const int base = 20 + 8 * n;
        putKindPointState(base, kind, point, state);
        putByte(base + 2, ms & 0xFF);
        putByte(base + 3, (ms >> 8 & 3) | (dst & 1) << 5 | (source & 3) << 6);
        const auto u = std::uint32_t(seconds);
        for (int i = 0; i < 4; ++i)
            putByte(base + 4 + i, int(u >> (8 * i) & 0xFF));
        return *this;
    }

    // The one type-1 record (words 10 … 22).
    BlockBuilder& type1(int kind, int pointIndex, int state, int ms, int second, int minute, int hour, int day,
        int month, int year, int source, int dst)
    {
        const int values[] = {kind, pointIndex, 0, state, ms, second, minute, hour, day, month, year, source, dst};
        for (int i = 0; i < 13; ++i)
            words_[std::size_t(10 + i)] = qint16(values[i]);
        return *this;
    }

    // Type 3 text from byte 20 (not terminated when it fills the block).
    BlockBuilder& text(const QByteArray& bytes)
    {
        for (int i = 0; i < bytes.size() && 20 + i < 200; ++i)
            putByte(20 + i, quint8(bytes[i]));
        return *this;
    }

    const EventBlockWords& words() const { return words_; }
    operator const EventBlockWords&() const { return words_; }

private:
    void putKindPointState(int base, int kind, int point, int state)
    {
        const int p = point - 1;
        putByte(base, (kind & 0x1F) | (p & 7) << 5);
        putByte(base + 1, (p >> 3 & 3) | (state & 1) << 2);
    }
    void putByte(int byteIndex, int value)
    {
        auto& w = words_[std::size_t(byteIndex / 2)];
        auto u = quint16(w);
        if (byteIndex % 2 == 0)
            u = quint16((u & 0xFF00) | (value & 0xFF));
        else
            u = quint16((u & 0x00FF) | (value & 0xFF) << 8);
        w = qint16(u);
    }
    void orByte(int byteIndex, int value)
    {
        const auto u = quint16(words_[std::size_t(byteIndex / 2)]);
        const int current = byteIndex % 2 == 0 ? u & 0xFF : u >> 8;
        putByte(byteIndex, current | value);
    }

    EventBlockWords words_{};
};

} // namespace chronel::test
