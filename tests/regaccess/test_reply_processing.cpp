// Reply processing: what each reply puts into the register buffer, which
// outcome it has, and that a reply which is not the request's (another
// function, count, echo) is an error that leaves the buffer alone.
#include "regaccess/reply_processor.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace regaccess {
namespace {

using Bytes = std::vector<std::uint8_t>;

using plcdrv::ReplyExtent;

// What a malformed reply gives: an error with the no-valid-reply code.
constexpr int Malformed = -3;

struct ReplyCase {
    const char* name;
    Bytes request; // the PDU sent
    Bytes reply;   // from the function code on
    std::int32_t status;
    ReplyKind kind;
    int errorCode;
    Bytes bufferStart; // expected first bytes of the buffer (which starts as 0xEE fill)
    ReplyExtent extent = ReplyExtent::Exact;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ReplyProcessingTest : public ::testing::TestWithParam<ReplyCase> { };

RegisterBuffer Filled()
{
    RegisterBuffer buffer;
    for (int i = 0; i < 512; ++i)
        buffer.setByte(i, 0xEE);
    return buffer;
}

TEST_P(ReplyProcessingTest, FillsTheBufferAndNamesTheOutcome)
{
    const ReplyCase& c = GetParam();
    RegisterBuffer buffer = Filled();
    const ReplyOutcome outcome = ProcessReply(c.request, c.reply, c.extent, platform::toErrorCode(c.status), buffer);
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(platform::errorNumber(outcome.error), c.errorCode);
    for (std::size_t i = 0; i < c.bufferStart.size(); ++i)
        EXPECT_EQ(buffer.byte(static_cast<int>(i)), c.bufferStart[i]) << "byte " << i;
}

const Bytes ReadTwo{3, 0, 0, 0, 2};
const Bytes DisabledPoint{126, 4, 0x16, 0, 0, 5};
const Bytes WriteOne{16, 0, 0, 0, 1, 2, 0, 7};
constexpr auto AtLeast = ReplyExtent::AtLeast;
constexpr auto NoError = platform::ErrorCode::NoError;

INSTANTIATE_TEST_SUITE_P(Replies, ReplyProcessingTest,
    ::testing::Values(
        ReplyCase{"coils", {1, 0, 0, 0, 16}, {1, 2, 0xCD, 0x01}, 0, ReplyKind::Read, 0, {0xCD, 0x01, 0xEE}},
        ReplyCase{"inputs", {2, 0, 0, 0, 3}, {2, 1, 0x05}, 0, ReplyKind::Read, 0, {0x05, 0xEE}},
        ReplyCase{"slave_id", {17}, {17, 3, 'a', 'b', 'c'}, 0, ReplyKind::Read, 0, {'a', 'b', 'c', 0xEE}},
        ReplyCase{"holding_swapped", {3, 0, 0, 0, 3}, {3, 6, 0, 1, 0, 2, 0xFF, 0xFF}, 0, ReplyKind::Read, 0,
            {1, 0, 2, 0, 0xFF, 0xFF, 0xEE}},
        ReplyCase{"exception_status", {7}, {7, 0x6D}, 0, ReplyKind::Read, 0, {0x6D, 0xEE}},
        ReplyCase{"diagnostics", {8, 0, 0x15, 0, 3}, {8, 0, 0x15, 0, 3, 2, 9, 8}, 0, ReplyKind::Read, 0, {9, 8, 0xEE}},
        ReplyCase{"disabled_cleared", DisabledPoint, {126, 2, 0x96, 0x0C}, 0, ReplyKind::Read, 0, {0, 0, 0, 0, 0xEE}},
        ReplyCase{"disabled_found", DisabledPoint, {126, 5, 0x16, 0, 0x12, 0x34, 0x07}, 0, ReplyKind::Read, 0,
            {0x34, 0x12, 0x07, 0x00, 0xEE}},
        ReplyCase{"network_table", {209, 2}, {209, 2, 1, 2, 3, 4}, 0, ReplyKind::Read, 0, {1, 2, 3, 4, 0xEE}},
        ReplyCase{"adapter_table", {224, 1, 0}, {224, 1, 9, 8}, 0, ReplyKind::Read, 0, {9, 8, 0xEE}},
        ReplyCase{"echo_single_coil", {5, 0, 1, 0xFF, 0}, {5, 0, 1, 0xFF, 0}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"echo_multiple_coils", {15, 0, 0, 0, 10, 2, 1, 2}, {15, 0, 0, 0, 10}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"echo_multiple_registers", WriteOne, {16, 0, 0, 0, 1}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"network_table_written", {214, 1, 5, 6}, {214}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"adapter_table_written", {225, 1, 0, 5, 6}, {225}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"code_208_write", {208}, {208}, 0, ReplyKind::Write, 0, {0xEE}},
        ReplyCase{"adapter_statistics_is_data", {0xE2}, {0xE2, 1, 2, 3}, 0, ReplyKind::Read, 0, {1, 2, 3, 0xEE}},
        ReplyCase{"statistics_cleared", {0xE3}, {0xE3, 4}, 0, ReplyKind::Write, 0, {4, 0xEE}},
        ReplyCase{"exception", ReadTwo, {0x83, 0x02}, 0, ReplyKind::Error, 2, {0xEE}},
        ReplyCase{"exception_busy", WriteOne, {0x90, 0x06}, 0, ReplyKind::Error, 6, {0xEE}},
        ReplyCase{"exception_in_a_packet", ReadTwo, {0x83, 0x02, 0xEE, 0xEE}, 0, ReplyKind::Error, 2, {0xEE}, AtLeast},
        ReplyCase{"driver_status", ReadTwo, {3, 4, 0, 1, 0, 2}, -3, ReplyKind::Error, -3, {0xEE}},
        // A reply of the right layout in a packet whose end is not known
        // fills what the request asked for and nothing after it.
        ReplyCase{"registers_in_a_packet", ReadTwo, {3, 4, 0, 1, 0, 2, 0, 3}, 0, ReplyKind::Read, 0, {1, 0, 2, 0, 0xEE},
            AtLeast},
        // Replies that are not the request's: nothing of them is taken.
        ReplyCase{"another_function", ReadTwo, {4, 4, 0, 1, 0, 2}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"write_echo_to_a_read", ReadTwo, {5, 0, 0, 0xFF, 0}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"read_reply_to_a_write", WriteOne, {3, 2, 0, 7}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"unknown_code", ReadTwo, {0x41, 4, 0, 1, 0, 2}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"exception_of_another_function", ReadTwo, {0x84, 0x02}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"exception_without_a_code", ReadTwo, {0x83, 0x00}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"exception_cut", ReadTwo, {0x83}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"fewer_registers", ReadTwo, {3, 2, 0, 1}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"more_registers", ReadTwo, {3, 6, 0, 1, 0, 2, 0, 3}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"more_registers_in_a_packet", ReadTwo, {3, 6, 0, 1, 0, 2, 0, 3}, 0, ReplyKind::Error, Malformed,
            {0xEE}, AtLeast},
        ReplyCase{
            "count_past_the_reply", {3, 0, 0, 0, 100}, {3, 200, 0, 7, 0, 8}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"bytes_after_the_count", ReadTwo, {3, 4, 0, 1, 0, 2, 0}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"fewer_coil_bytes", {1, 0, 0, 0, 16}, {1, 1, 0xCD}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"echo_of_another_address", WriteOne, {16, 0, 1, 0, 1}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"echo_of_another_value", {5, 0, 1, 0xFF, 0}, {5, 0, 1, 0, 0}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"echo_cut", WriteOne, {16, 0, 0, 0}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"diagnostics_of_another_operation", {8, 0, 0x15, 0, 3}, {8, 0, 0x15, 0, 4, 0}, 0, ReplyKind::Error,
            Malformed, {0xEE}},
        ReplyCase{"disabled_other_subcommand", DisabledPoint, {126, 5, 0x17, 0, 0x12, 0x34, 0x07}, 0, ReplyKind::Error,
            Malformed, {0xEE}},
        ReplyCase{"table_other_count", {224, 1, 0}, {224, 2, 9, 8, 7, 6}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"empty_reply", ReadTwo, {}, 0, ReplyKind::Error, Malformed, {0xEE}},
        ReplyCase{"no_request", {}, {3, 4, 0, 1, 0, 2}, 0, ReplyKind::Error, Malformed, {0xEE}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyProcessingTest, FullPacketReplyNeverReachesPastTheBuffer)
{
    // A whole packet's worth of reply to the largest reads: 2000 coils, 125
    // registers, 251 data bytes present.
    Bytes reply(253, 0x5A);
    RegisterBuffer buffer = Filled();
    reply[0] = 1;
    reply[1] = 250;
    EXPECT_EQ(ProcessReply(Bytes{1, 0, 0, 0x07, 0xD0}, reply, AtLeast, NoError, buffer).kind, ReplyKind::Read);
    EXPECT_EQ(buffer.byte(249), 0x5A);
    EXPECT_EQ(buffer.byte(250), 0xEE);

    buffer = Filled();
    reply[0] = 3;
    EXPECT_EQ(ProcessReply(Bytes{3, 0, 0, 0, 125}, reply, AtLeast, NoError, buffer).kind, ReplyKind::Read);
    EXPECT_EQ(buffer.word(124), 0x5A5A);
    EXPECT_EQ(buffer.byte(250), 0xEE);
}

TEST(ReplyProcessingTest, LargeStatusKeepsItsLow16Bits)
{
    RegisterBuffer buffer;
    const ReplyOutcome outcome = ProcessReply(ReadTwo, Bytes{}, AtLeast, platform::toErrorCode(0x12345), buffer);
    EXPECT_EQ(outcome.kind, ReplyKind::Error);
    EXPECT_EQ(platform::errorNumber(outcome.error), 0x2345);
}

} // namespace
} // namespace regaccess
