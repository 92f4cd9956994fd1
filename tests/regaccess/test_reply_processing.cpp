// Reply processing: what each reply puts into the register buffer, which
// outcome it has, and that counts in the reply never move more bytes than
// the reply holds.
#include "regaccess/reply_processor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace regaccess {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReplyCase {
    const char* name;
    Bytes reply; // from the function code on
    std::int32_t status;
    ReplyKind kind;
    int errorCode;
    Bytes bufferStart; // expected first bytes of the buffer (which starts as 0xEE fill)
};

class ReplyProcessingTest : public ::testing::TestWithParam<ReplyCase> { };

RegisterBuffer filled()
{
    RegisterBuffer buffer;
    for (int i = 0; i < 512; ++i)
        buffer.setByte(i, 0xEE);
    return buffer;
}

TEST_P(ReplyProcessingTest, FillsTheBufferAndNamesTheOutcome)
{
    const ReplyCase& c = GetParam();
    RegisterBuffer buffer = filled();
    const ReplyOutcome outcome = processReply(c.reply, c.status, buffer);
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(outcome.errorCode, c.errorCode);
    for (std::size_t i = 0; i < c.bufferStart.size(); ++i)
        EXPECT_EQ(buffer.byte(static_cast<int>(i)), c.bufferStart[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyProcessingTest,
    ::testing::Values(ReplyCase{"coils", {1, 2, 0xCD, 0x01}, 0, ReplyKind::Read, 0, {0xCD, 0x01, 0xEE}},
        ReplyCase{"inputs", {2, 1, 0x05}, 0, ReplyKind::Read, 0, {0x05, 0xEE}},
        ReplyCase{"slave_id", {17, 3, 'a', 'b', 'c'}, 0, ReplyKind::Read, 0, {'a', 'b', 'c', 0xEE}},
        ReplyCase{
            "holding_swapped", {3, 6, 0, 1, 0, 2, 0xFF, 0xFF}, 0, ReplyKind::Read, 0, {1, 0, 2, 0, 0xFF, 0xFF, 0xEE}},
        ReplyCase{"input_regs_odd_count", {4, 3, 0x12, 0x34, 0x56}, 0, ReplyKind::Read, 0, {0x34, 0x12, 0xEE}},
        ReplyCase{"exception_status", {7, 0x6D}, 0, ReplyKind::Read, 0, {0x6D, 0xEE}},
        ReplyCase{"diagnostics", {8, 0, 0x15, 0, 3, 2, 9, 8}, 0, ReplyKind::Read, 0, {9, 8, 0xEE}},
        ReplyCase{"disabled_cleared", {126, 2, 0x96, 0x0C}, 0, ReplyKind::Read, 0, {0, 0, 0, 0, 0xEE}},
        ReplyCase{"disabled_found", {126, 5, 0x16, 0, 0x12, 0x34, 0x07}, 0, ReplyKind::Read, 0,
            {0x34, 0x12, 0x07, 0x00, 0xEE}},
        ReplyCase{"network_table", {209, 2, 1, 2, 3, 4}, 0, ReplyKind::Read, 0, {1, 2, 3, 4, 0xEE}},
        ReplyCase{"adapter_table", {224, 1, 9, 8}, 0, ReplyKind::Read, 0, {9, 8, 0xEE}},
        ReplyCase{"echo_single_register", {6, 0, 1, 0, 5}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"echo_multiple_coils", {15, 0, 0, 0, 10}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"echo_multiple_registers", {16, 0, 0, 0, 1}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"network_table_written", {214}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"adapter_table_written", {225}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"code_208_write", {208}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"adapter_statistics_is_data", {0xE2, 1, 2, 3}, 0, ReplyKind::Read, 0, {1, 2, 3, 0xEE}},
        ReplyCase{"statistics_cleared", {0xE3, 4}, 0, ReplyKind::Write, 0, {4, 0xEE}},
        ReplyCase{"exception", {0x83, 0x02}, 0, ReplyKind::Error, 2, {0xEE}},
        ReplyCase{"exception_busy", {0x90, 0x06}, 0, ReplyKind::Error, 6, {0xEE}},
        ReplyCase{"driver_status", {3, 2, 0, 1}, -3, ReplyKind::Error, -3, {0xEE}},
        ReplyCase{"unknown_code", {0x41, 9, 9}, 0, ReplyKind::Read, 0, {0xEE}},
        // Counts that promise more than the reply holds copy only what is there.
        ReplyCase{"coil_count_too_large", {1, 200, 0x11, 0x22}, 0, ReplyKind::Read, 0, {0x11, 0x22, 0xEE, 0xEE}},
        ReplyCase{"register_count_too_large", {3, 250, 0, 7, 0, 8}, 0, ReplyKind::Read, 0, {7, 0, 8, 0, 0xEE, 0xEE}},
        ReplyCase{"diagnostic_count_too_large", {8, 0, 0x15, 0, 3, 255, 1}, 0, ReplyKind::Read, 0, {1, 0xEE}},
        ReplyCase{"table_count_too_large", {224, 255, 5, 6}, 0, ReplyKind::Read, 0, {5, 6, 0xEE}},
        ReplyCase{"statistics_short", {0xE2, 1}, 0, ReplyKind::Read, 0, {1, 0xEE}},
        ReplyCase{"empty_reply", {}, 0, ReplyKind::Read, 0, {0xEE}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyProcessingTest, ExceptionCodeAboveTheDataCodesIsAnError)
{
    RegisterBuffer buffer;
    EXPECT_EQ(processReply(Bytes{0xCF, 0x04}, 0, buffer).kind, ReplyKind::Error);
    EXPECT_EQ(processReply(Bytes{0xD1, 0x04}, 0, buffer).kind, ReplyKind::Read);
}

TEST(ReplyProcessingTest, FullPacketReplyNeverReachesPastTheBuffer)
{
    // A whole packet's worth of reply with the largest counts: 255 bytes of
    // coils or 127 registers promised, 251 data bytes present.
    Bytes reply(253, 0x5A);
    RegisterBuffer buffer = filled();
    reply[0] = 1;
    reply[1] = 255;
    processReply(reply, 0, buffer);
    EXPECT_EQ(buffer.byte(250), 0x5A);
    EXPECT_EQ(buffer.byte(251), 0xEE);

    buffer = filled();
    reply[0] = 3;
    processReply(reply, 0, buffer);
    EXPECT_EQ(buffer.word(124), 0x5A5A);
    EXPECT_EQ(buffer.byte(250), 0xEE);
}

TEST(ReplyProcessingTest, LargeStatusKeepsItsLow16Bits)
{
    RegisterBuffer buffer;
    const ReplyOutcome outcome = processReply(Bytes{}, 0x12345, buffer);
    EXPECT_EQ(outcome.kind, ReplyKind::Error);
    EXPECT_EQ(outcome.errorCode, 0x2345);
}

} // namespace
} // namespace regaccess
