#include "test_mode.h"

#include "statistics.h"

#include "regaccess/request_properties.h"

namespace chronel {

std::array<qint16, 2> TestInputWords(const TestInputs& boxes)
{
    quint16 low = 0;
    quint16 high = 0;
    for (int i = 0; i < 16; ++i) {
        if (boxes[std::size_t(i)])
            low |= quint16(1u << i);
        if (boxes[std::size_t(16 + i)])
            high |= quint16(1u << i);
    }
    return {qint16(low), qint16(high)};
}

TestModeCommands::TestModeCommands(Channel& channel, std::function<QString()> host)
    : channel_(channel), host_(std::move(host))
{
}

void TestModeCommands::write(qint32 address, std::initializer_list<qint16> words)
{
    channel_.prepare(host_ ? host_() : channel_.Host(), address, regaccess::FunctionWrite, regaccess::RegTypeHoldRegs,
        int(words.size()));
    int i = 0;
    for (const qint16 w : words)
        channel_.setWordVal(i++, w);
    channel_.Trigger();
}

void TestModeCommands::test() { write(TestModeRegister, {statsblock::TestModeOn}); }

void TestModeCommands::normal() { write(TestModeRegister, {0}); }

void TestModeCommands::send(const TestInputs& boxes)
{
    const auto words = TestInputWords(boxes);
    write(TestInputsRegister, {words[0], words[1]});
}

} // namespace chronel
