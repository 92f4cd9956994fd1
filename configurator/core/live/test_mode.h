#pragma once
// The test-mode commands of the "Test Mode" window, written through the
// window's own channel modTestMode: "Test" writes 0x55AA to register 1577,
// "Normal" writes 0 there, "Send" writes the 32 test inputs to 1578 and 1579
// (bit i of 1578 = point i + 1, bit i of 1579 = point i + 17). Each command is
// one Trigger; neither success nor failure is reported — the mode buttons
// follow the module's register 1577 at the next statistics read.
#include "core/link/channel.h"

#include <QString>
#include <array>
#include <functional>

namespace chronel {

constexpr int TestInputCount = 32;
using TestInputs = std::array<bool, TestInputCount>; // chkTestData(i) = point i + 1

// Words for registers 1578 and 1579 from the 32 boxes.
std::array<qint16, 2> TestInputWords(const TestInputs& boxes);

class TestModeCommands {
public:
    TestModeCommands(Channel& channel, std::function<QString()> host);

    void test();                        // cmdTestModeModeTest
    void normal();                      // cmdTestModeModeNormal
    void send(const TestInputs& boxes); // cmdestModeSend

private:
    void write(qint32 address, std::initializer_list<qint16> words);

    Channel& channel_;
    std::function<QString()> host_;
};

} // namespace chronel
