// Reads event blocks the way the configurator's event scan does, from the
// record layouts of buffer types 0 ... 3, written independently of the
// simulator's encoder so that the two check each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

struct Decoded {
    int kind = 0, point = 0, state = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    int source = 0, dst = 0;
    std::string text; // type 3
};

inline int ByteAt(const uint16_t* w, int b) { return b % 2 == 0 ? (w[b / 2] & 0xFF) : (w[b / 2] >> 8); }

// Type-2 seconds since 1984 to calendar, by the four-year cycle rule.
inline void FromSeconds1984(int64_t s, Decoded& d)
{
    int64_t cycle = s / 126230400, r = s % 126230400;
    int year = 1984 + 4 * static_cast<int>(cycle);
    bool leap = true;
    if (r >= 31622400) {
        leap = false;
        if (r < 63158400) {
            year += 1;
            r -= 31622400;
        } else if (r < 94694400) {
            year += 2;
            r -= 63158400;
        } else {
            year += 3;
            r -= 94694400;
        }
    }
    static const int64_t leapEnds[] = {
        2678400, 5184000, 7862400, 10454400, 13132800, 15724800, 18403200, 21081600, 23673600, 26352000, 28944000};
    static const int64_t commonEnds[] = {
        2678400, 5097600, 7776000, 10368000, 13046400, 15638400, 18316800, 20995200, 23587200, 26265600, 28857600};
    const int64_t* ends = leap ? leapEnds : commonEnds;
    int month = 12;
    for (int m = 0; m < 11; ++m)
        if (r < ends[m]) {
            month = m + 1;
            break;
        }
    if (month > 1)
        r -= ends[month - 2];
    d.year = year;
    d.month = month;
    d.day = static_cast<int>(r / 86400) + 1;
    r %= 86400;
    d.hour = static_cast<int>(r / 3600);
    d.minute = static_cast<int>(r % 3600 / 60);
    d.second = static_cast<int>(r % 60);
}

// Decodes one block; `date` carries the type-0 date between blocks.
inline std::vector<Decoded> DecodeBlock(const uint16_t* w, Decoded& date)
{
    std::vector<Decoded> out;
    int type = w[1], count = w[2];
    if (type == 0) {
        int savedH = 0, savedM = 0, savedS = 0, savedMs = 0;
        for (int n = 0; n < count && n < 30; ++n) {
            int at = 20 + 6 * n;
            int b0 = ByteAt(w, at), b1 = ByteAt(w, at + 1), b2 = ByteAt(w, at + 2), b3 = ByteAt(w, at + 3),
                b4 = ByteAt(w, at + 4), b5 = ByteAt(w, at + 5);
            Decoded d;
            d.kind = b0 & 0x1F;
            d.point = ((b0 >> 5) & 7) + 8 * (b1 & 3) + 1;
            d.state = (b1 >> 2) & 1;
            d.source = (b5 >> 6) & 3;
            d.dst = (b5 >> 5) & 1;
            if (d.kind == 13 || d.kind == 14 || d.kind == 15) {
                date.month = b2 & 0x0F;
                date.day = ((b2 >> 4) & 0x0F) + 16 * (b3 & 1);
                date.year = b4 + 256 * (b5 & 0x0F);
                d.hour = (b3 >> 1) & 0x1F;
                if (d.kind == 14) {
                    d.kind = 12;
                    d.hour = savedH;
                    d.minute = savedM;
                    d.second = savedS;
                    d.ms = savedMs;
                }
            } else {
                d.ms = b2 + 256 * (b3 & 3);
                d.second = (b3 >> 2) & 0x3F;
                d.minute = b4 & 0x3F;
                d.hour = b5 & 0x1F;
                if (d.kind == 12) {
                    savedH = d.hour;
                    savedM = d.minute;
                    savedS = d.second;
                    savedMs = d.ms;
                    continue; // shown with the date record that follows
                }
            }
            d.year = date.year;
            d.month = date.month;
            d.day = date.day;
            out.push_back(d);
        }
    } else if (type == 1) {
        for (int n = 0; n < count; ++n) {
            Decoded d;
            d.kind = w[10];
            d.point = w[11] + 1;
            d.state = w[13];
            d.ms = w[14];
            d.second = w[15];
            d.minute = w[16];
            d.hour = w[17];
            d.day = w[18];
            d.month = w[19];
            d.year = w[20];
            d.source = w[21];
            d.dst = w[22];
            out.push_back(d);
        }
    } else if (type == 2) {
        for (int n = 0; n < count && n < 22; ++n) {
            int at = 20 + 8 * n;
            int b0 = ByteAt(w, at), b1 = ByteAt(w, at + 1), b2 = ByteAt(w, at + 2), b3 = ByteAt(w, at + 3);
            Decoded d;
            d.kind = b0 & 0x1F;
            d.point = ((b0 >> 5) & 7) + 8 * (b1 & 3) + 1;
            d.state = (b1 >> 2) & 1;
            d.source = (b3 >> 6) & 3;
            d.dst = (b3 >> 5) & 1;
            d.ms = (b2 + 256 * b3) & 0x3FF;
            int32_t s = static_cast<int32_t>(
                static_cast<uint32_t>(w[10 + 4 * n + 2]) | (static_cast<uint32_t>(w[10 + 4 * n + 3]) << 16));
            FromSeconds1984(s, d);
            out.push_back(d);
        }
    } else if (type == 3) {
        Decoded d;
        for (int b = 20; b < 200 && ByteAt(w, b) != 0; ++b)
            d.text += static_cast<char>(ByteAt(w, b));
        out.push_back(d);
    }
    return out;
}

} // namespace simtest
