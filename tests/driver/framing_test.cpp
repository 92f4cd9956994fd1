// One suite for the three message kinds (RTU, ASCII, Modbus Plus): request
// frames, reply completeness per function row, checks, exceptions, parsing
// bounds and the reset. Replies are framed by the test's own encoders below.
#include "driver/ascii_message.h"
#include "driver/mbx_message.h"
#include "driver/message_factory.h"
#include "driver/modbus_function.h"
#include "driver/reply_completion.h"
#include "driver/rtu_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using plcdrv::ModbusMessage;

// Bit-by-bit CRC, written apart from the driver's table-driven one.
std::uint16_t BitwiseCrc(const Bytes& data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

struct RtuKind {
    static constexpr int kind = plcdrv::RtuKind;
    static constexpr bool serial = true;
    static Bytes frame(std::uint8_t slave, const Bytes& pdu)
    {
        Bytes out{slave};
        out.insert(out.end(), pdu.begin(), pdu.end());
        const std::uint16_t crc = BitwiseCrc(out);
        out.push_back(crc & 0xFF);
        out.push_back(crc >> 8);
        return out;
    }
};

struct AsciiKind {
    static constexpr int kind = plcdrv::AsciiKind;
    static constexpr bool serial = true;
    static Bytes frame(std::uint8_t slave, const Bytes& pdu)
    {
        Bytes raw{slave};
        raw.insert(raw.end(), pdu.begin(), pdu.end());
        std::uint8_t sum = 0;
        for (std::uint8_t b : raw)
            sum = static_cast<std::uint8_t>(sum + b);
        raw.push_back(static_cast<std::uint8_t>(0x100 - sum));
        std::string text = ":";
        char pair[3];
        for (std::uint8_t b : raw) {
            std::snprintf(pair, sizeof pair, "%02X", b);
            text += pair;
        }
        text += "\r\n";
        return Bytes(text.begin(), text.end());
    }
};

struct MbxKind {
    static constexpr int kind = plcdrv::ModbusPlusKind;
    static constexpr bool serial = false;
    static Bytes frame(std::uint8_t, const Bytes& pdu) { return pdu; }
};

plcdrv::RequestPacket PacketFor(std::uint8_t slave, const Bytes& pdu)
{
    plcdrv::RequestPacket packet{};
    packet.route[0] = slave;
    packet.functionCode = pdu.at(0);
    packet.pduLength = static_cast<std::int32_t>(pdu.size());
    std::copy(pdu.begin() + 1, pdu.end(), packet.data);
    return packet;
}

Bytes FrameOf(const ModbusMessage& m) { return Bytes(m.frame(), m.frame() + m.frameLength()); }

template <typename Kind> class MessageKinds : public testing::Test {
protected:
    std::unique_ptr<ModbusMessage> request(const Bytes& pdu, std::uint8_t slave = 1)
    {
        auto m = plcdrv::BuildMessage(Kind::kind, PacketFor(slave, pdu));
        EXPECT_NE(m, nullptr);
        return m;
    }

    // Serial kinds receive byte by byte until the frame rules call the reply
    // complete, as the serial link does; Modbus Plus gets its reply PDU
    // written into the buffer, as mpbridge does. Returns the number of bytes
    // taken when the reply became complete (0 if it never did).
    static std::size_t deliver(ModbusMessage& m, const Bytes& wire)
    {
        if constexpr (!Kind::serial) {
            std::memcpy(m.frame(), wire.data(), wire.size());
            m.setComplete(true);
            return m.replyComplete() ? wire.size() : 0;
        } else {
            m.reset();
            for (std::size_t i = 0; i < wire.size(); ++i) {
                EXPECT_TRUE(m.receiveByte(wire[i]));
                if (m.replyComplete()) {
                    m.setComplete(true);
                    return i + 1;
                }
            }
            m.setComplete(false);
            return 0;
        }
    }
};

using Kinds = testing::Types<RtuKind, AsciiKind, MbxKind>;
class KindNames {
public:
    template <typename T> static std::string GetName(int)
    {
        if (std::is_same_v<T, RtuKind>)
            return "Rtu";
        if (std::is_same_v<T, AsciiKind>)
            return "Ascii";
        return "ModbusPlus";
    }
};
TYPED_TEST_SUITE(MessageKinds, Kinds, KindNames);

// The serial kinds receive byte by byte and carry a frame check.
template <typename Kind> class SerialMessageKinds : public MessageKinds<Kind> {
};
using SerialKinds = testing::Types<RtuKind, AsciiKind>;
TYPED_TEST_SUITE(SerialMessageKinds, SerialKinds, KindNames);

TYPED_TEST(MessageKinds, BuildsTheRequestFrameFromThePacket)
{
    const Bytes pdu{0x03, 0x00, 0x6B, 0x00, 0x03};
    const auto m = this->request(pdu, 17);
    EXPECT_EQ(FrameOf(*m), TypeParam::frame(17, pdu));
    if constexpr (!TypeParam::serial) {
        const auto& route = static_cast<const plcdrv::MbxMessage&>(*m).route();
        EXPECT_EQ(Bytes(route.begin(), route.end()), (Bytes{17, 0, 0, 0, 0, 0}));
    }
}

TYPED_TEST(MessageKinds, FunctionCodeAloneWhenPduLengthIsOne)
{
    for (int length : {1, 0, -5}) {
        auto packet = PacketFor(9, Bytes{0x07});
        packet.pduLength = length;
        const auto m = plcdrv::BuildMessage(TypeParam::kind, packet);
        EXPECT_EQ(FrameOf(*m), TypeParam::frame(9, Bytes{0x07})) << length;
    }
}

TYPED_TEST(MessageKinds, MostNegativePduLengthSendsTheFunctionCodeAlone)
{
    auto packet = PacketFor(9, Bytes{0x07, 0x11, 0x22});
    packet.pduLength = std::numeric_limits<std::int32_t>::min();
    const auto m = plcdrv::BuildMessage(TypeParam::kind, packet);
    EXPECT_EQ(FrameOf(*m), TypeParam::frame(9, Bytes{0x07}));
}

TYPED_TEST(MessageKinds, OverlongPduLengthSendsOnlyThePacketsData)
{
    Bytes pdu(253);
    for (std::size_t i = 0; i < pdu.size(); ++i)
        pdu[i] = static_cast<std::uint8_t>(i + 1);
    auto packet = PacketFor(1, pdu);
    packet.pduLength = 100000;
    const auto m = plcdrv::BuildMessage(TypeParam::kind, packet);
    EXPECT_EQ(FrameOf(*m), TypeParam::frame(1, pdu));
}

// One row per completeness rule: the reply PDU and the RTU length at which it
// is complete (0: no rule, the exchange ends by time-out).
struct ReplyRow {
    const char* name;
    Bytes pdu;
    std::size_t rtuCompleteAt;
};

std::vector<ReplyRow> ReplyRows()
{
    auto counted = [](std::uint8_t function, std::uint8_t count) {
        Bytes pdu{function, count};
        for (int i = 0; i < count; ++i)
            pdu.push_back(static_cast<std::uint8_t>(0x30 + i));
        return pdu;
    };
    std::vector<ReplyRow> rows;
    for (std::uint8_t f : {1, 2, 3, 4, 12, 17, 20, 21})
        rows.push_back({"counted", counted(f, 4), 9});
    rows.push_back({"counted, 250 bytes", counted(3, 250), 255});
    rows.push_back({"counted, empty", counted(3, 0), 5});
    for (std::uint8_t f : {5, 6, 11, 15, 16})
        rows.push_back({"echo", Bytes{f, 0x00, 0x10, 0xFF, 0x00}, 8});
    rows.push_back({"exception status", Bytes{0x07, 0x6D}, 5});
    rows.push_back({"mask write", Bytes{0x16, 0x00, 0x04, 0x00, 0xF2, 0x00, 0x25}, 10});
    rows.push_back({"exception", Bytes{0x83, 0x02}, 5});
    rows.push_back({"diagnostics (no rule)", Bytes{0x08, 0x00, 0x00, 0xA5, 0x37}, 0});
    rows.push_back({"unknown function (no rule)", Bytes{0x41, 0x01, 0x02}, 0});
    return rows;
}

TYPED_TEST(MessageKinds, ReplyCompleteExactlyWhenItsLastByteArrives)
{
    for (const ReplyRow& row : ReplyRows()) {
        SCOPED_TRACE(std::string(row.name) + ", function " + std::to_string(row.pdu[0]));
        auto m = this->request(Bytes{static_cast<std::uint8_t>(row.pdu[0] & 0x7F), 0, 0, 0, 1});
        Bytes wire = TypeParam::frame(1, row.pdu);
        std::size_t expected = wire.size();
        if constexpr (std::is_same_v<TypeParam, RtuKind>) {
            expected = row.rtuCompleteAt;
            if (expected == 0)
                wire.insert(wire.end(), 40, 0x00); // more bytes never complete it
        }
        EXPECT_EQ(this->deliver(*m, wire), expected);
    }
}

TYPED_TEST(MessageKinds, ValidReplyReachesThePacket)
{
    std::mt19937 random(3);
    Bytes pdu{0x03, 250};
    for (int i = 0; i < 250; ++i)
        pdu.push_back(static_cast<std::uint8_t>(random()));
    auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 125});
    ASSERT_NE(this->deliver(*m, TypeParam::frame(1, pdu)), 0u);
    EXPECT_EQ(m->checkReply(), 1);
    EXPECT_EQ(m->exceptionCode(), 0);
    EXPECT_EQ(m->replyFunctionCode(), 0x03);

    auto packet = PacketFor(1, Bytes{0x03, 0x00, 0x00, 0x00, 125});
    packet.status = 77;
    EXPECT_EQ(plcdrv::StoreReply(*m, 0, TypeParam::serial, packet), 0);
    EXPECT_EQ(packet.status, TypeParam::serial ? 0 : 77);
    EXPECT_EQ(packet.functionCode, 0x03);
    EXPECT_EQ(packet.data[0], 250);
    EXPECT_TRUE(std::equal(pdu.begin() + 2, pdu.end(), packet.data + 1));
    EXPECT_EQ(m->wordValue(0), (pdu[2] << 8) | pdu[3]);
    EXPECT_EQ(m->wordValue(124), (pdu[250] << 8) | pdu[251]);
    EXPECT_EQ(m->wordValue(125), 0); // beyond the reply data
}

TYPED_TEST(MessageKinds, ReadExceptionStatusKeepsItsStatusByteAsTheCount)
{
    // Function 7 answers with one status byte where other reads have their
    // count: nothing follows it, and the caller takes it from replyCount.
    auto m = this->request(Bytes{0x07});
    ASSERT_NE(this->deliver(*m, TypeParam::frame(1, Bytes{0x07, 0x5A})), 0u);
    auto packet = PacketFor(1, Bytes{0x07});
    EXPECT_EQ(plcdrv::StoreReply(*m, 0, TypeParam::serial, packet), 0);
    EXPECT_EQ(packet.functionCode, 0x07);
    EXPECT_EQ(packet.data[0], 0x5A);
    // Modbus Plus replies carry no length to bound the data by.
    if constexpr (TypeParam::serial) {
        EXPECT_EQ(m->replyDataCount(), 0);
    }
}

TYPED_TEST(MessageKinds, ReplyAccessorsReadTheParsedData)
{
    auto m = this->request(Bytes{0x01, 0x00, 0x00, 0x00, 24}, 5);
    ASSERT_NE(this->deliver(*m, TypeParam::frame(5, Bytes{0x01, 0x03, 0x05, 0x80, 'A'})), 0u);
    ASSERT_EQ(m->checkReply(), 1);
    m->parseReply();
    ASSERT_EQ(m->replyDataCount(), 3);
    EXPECT_EQ(m->bitValue(0), 0xFFFF);
    EXPECT_EQ(m->bitValue(1), 0);
    EXPECT_EQ(m->bitValue(2), 0xFFFF);
    EXPECT_EQ(m->bitValue(15), 0xFFFF);
    EXPECT_EQ(m->bitValue(24), 0);
    EXPECT_EQ(m->bitValue(-1), 0);
    EXPECT_EQ(m->byteText(2, 5), "A");
    EXPECT_EQ(m->byteText(3, 1), "");
    if constexpr (TypeParam::serial) {
        EXPECT_EQ(m->replySlaveAddress(), 5);
    }
}

TYPED_TEST(MessageKinds, ExceptionReplyGivesItsCode)
{
    auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
    ASSERT_NE(this->deliver(*m, TypeParam::frame(1, Bytes{0x83, 0x02})), 0u);
    EXPECT_EQ(m->checkReply(), 0);
    EXPECT_EQ(m->exceptionCode(), 2);

    auto packet = PacketFor(1, Bytes{0x03, 0x00, 0x00, 0x00, 1});
    EXPECT_EQ(plcdrv::StoreReply(*m, 0, TypeParam::serial, packet), 0);
    EXPECT_EQ(packet.functionCode, 0x83);
    EXPECT_EQ(packet.data[0], 2);
}

TYPED_TEST(MessageKinds, FailedExchangeWritesNoReply)
{
    auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
    auto packet = PacketFor(1, Bytes{0x03, 0x00, 0x00, 0x00, 1});
    const int status = TypeParam::serial ? plcdrv::kNoReplyStatus : 1234;
    EXPECT_EQ(plcdrv::StoreReply(*m, status, TypeParam::serial, packet), status);
    EXPECT_EQ(packet.data[0], 0x00);
    EXPECT_EQ(packet.data[1], 0x00);
    EXPECT_EQ(packet.status, TypeParam::serial ? plcdrv::kNoReplyStatus : 0);
}

TYPED_TEST(SerialMessageKinds, DamagedCheckIsNoValidReply)
{
    for (const Bytes& pdu : {Bytes{0x03, 0x02, 0x12, 0x34}, Bytes{0x83, 0x02}}) {
        auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
        Bytes wire = TypeParam::frame(1, pdu);
        // RTU: last CRC byte; ASCII: a digit of the LRC pair.
        wire[wire.size() - (std::is_same_v<TypeParam, RtuKind> ? 1 : 3)] ^= 0x01;
        ASSERT_NE(this->deliver(*m, wire), 0u);
        EXPECT_EQ(m->checkReply(), 0);
        EXPECT_EQ(m->exceptionCode(), 0);

        auto packet = PacketFor(1, Bytes{0x03, 0x00, 0x00, 0x00, 1});
        std::memset(packet.data, 0xEE, sizeof packet.data);
        EXPECT_EQ(plcdrv::StoreReply(*m, 0, true, packet), plcdrv::kNoReplyStatus);
        EXPECT_EQ(packet.status, plcdrv::kNoReplyStatus);
        EXPECT_EQ(packet.functionCode, 0x03);
        EXPECT_EQ(packet.data[0], 0xEE);
    }
}

TYPED_TEST(SerialMessageKinds, ParsingStopsAtTheReceivedBytes)
{
    // An echo whose address high byte (read as the count) is 0x40 and a
    // short read reply forced complete: the count byte promises more
    // than arrived. Neither answers the read, and parsing them anyway
    // still stays within what arrived.
    for (const Bytes& pdu : {Bytes{0x10, 0x40, 0x00, 0x00, 0x02}, Bytes{0x03, 0xFA, 0x00, 0x01}}) {
        auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
        const Bytes wire = TypeParam::frame(1, pdu);
        m->reset();
        for (std::uint8_t b : wire)
            ASSERT_TRUE(m->receiveByte(b));
        m->setComplete(true);
        EXPECT_EQ(m->checkReply(), 0);
        EXPECT_EQ(m->exceptionCode(), 0);
        m->parseReply();
        EXPECT_EQ(m->replyDataCount(), pdu.size() - 2);
        EXPECT_TRUE(std::equal(pdu.begin() + 2, pdu.end(), m->replyData()));
    }
}

TYPED_TEST(SerialMessageKinds, ReceiveBufferIsNeverOverrun)
{
    auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
    m->reset();
    // Function 0x41 has no RTU rule and ASCII never sees LF: the reply
    // would run on forever.
    std::size_t accepted = 0;
    for (int i = 0; i < 1100; ++i)
        accepted += m->receiveByte(0x41) ? 1 : 0;
    EXPECT_EQ(accepted, ModbusMessage::kFrameCapacity);
    EXPECT_EQ(m->frameLength(), ModbusMessage::kFrameCapacity);
    EXPECT_FALSE(m->replyComplete());
}

TYPED_TEST(MessageKinds, ResetFillsTheBufferAndDropsTheReply)
{
    auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
    ASSERT_NE(this->deliver(*m, TypeParam::frame(1, Bytes{0x03, 0x02, 0x12, 0x34})), 0u);
    ASSERT_EQ(m->checkReply(), 1);
    m->parseReply();
    ASSERT_EQ(m->replyDataCount(), 2);
    m->reset();
    EXPECT_FALSE(m->complete());
    EXPECT_EQ(m->frameLength(), 0);
    EXPECT_EQ(m->replyDataCount(), 0);
    EXPECT_EQ(m->wordValue(0), 0);
    EXPECT_TRUE(std::all_of(m->frame(), m->frame() + ModbusMessage::kFrameCapacity,
        [](std::uint8_t b) { return b == ModbusMessage::kFillByte; }));
}

TYPED_TEST(MessageKinds, IncompleteReplyIsNotChecked)
{
    auto m = this->request(Bytes{0x03, 0x00, 0x00, 0x00, 1});
    this->deliver(*m, TypeParam::frame(1, Bytes{0x83, 0x02}));
    m->setComplete(false);
    EXPECT_EQ(m->checkReply(), 0);
    EXPECT_EQ(m->exceptionCode(), 0);
}

// Replies that are well framed but not the request's: each is no valid
// reply, the same rule the control's Modbus TCP client applies, and the
// packet keeps what it held.
TYPED_TEST(MessageKinds, ReplyThatDoesNotAnswerTheRequestIsNoValidReply)
{
    const Bytes readTwo{0x03, 0x00, 0x00, 0x00, 0x02};
    Bytes twoHundredFifty{0x03, 250};
    twoHundredFifty.resize(252, 0x11);
    std::vector<std::pair<const char*, Bytes>> frames = {
        {"another function", TypeParam::frame(1, Bytes{0x04, 0x04, 0, 1, 0, 2})},
        {"write echo", TypeParam::frame(1, Bytes{0x05, 0x00, 0x00, 0xFF, 0x00})},
        {"short count", TypeParam::frame(1, Bytes{0x03, 0x02, 0, 1})},
        {"long count", TypeParam::frame(1, Bytes{0x03, 0x06, 0, 1, 0, 2, 0, 3})},
        {"250 bytes", TypeParam::frame(1, twoHundredFifty)},
        {"exception of another function", TypeParam::frame(1, Bytes{0x84, 0x02})},
        {"exception without a code", TypeParam::frame(1, Bytes{0x83, 0x00})},
    };
    if constexpr (TypeParam::serial) {
        frames.push_back({"another slave", TypeParam::frame(2, Bytes{0x03, 0x04, 0, 1, 0, 2})});
    }
    for (const auto& [name, wire] : frames) {
        SCOPED_TRACE(name);
        auto m = this->request(readTwo);
        ASSERT_NE(this->deliver(*m, wire), 0u);
        EXPECT_EQ(m->checkReply(), 0);
        EXPECT_EQ(m->exceptionCode(), 0);

        auto packet = PacketFor(1, readTwo);
        std::memset(packet.data, 0xEE, sizeof packet.data);
        EXPECT_EQ(plcdrv::StoreReply(*m, 0, TypeParam::serial, packet), plcdrv::kNoReplyStatus);
        EXPECT_EQ(packet.functionCode, 0x03);
        EXPECT_EQ(packet.data[0], 0xEE);
    }
}

// Frames given as examples of the protocol's framing.
TEST(FrameExamples, RtuReadTenRegisters)
{
    const auto m = plcdrv::BuildMessage(plcdrv::RtuKind, PacketFor(1, Bytes{0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(FrameOf(*m), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
}

TEST(FrameExamples, AsciiReadThreeRegistersOfSlave17)
{
    const auto m = plcdrv::BuildMessage(plcdrv::AsciiKind, PacketFor(17, Bytes{0x03, 0x00, 0x6B, 0x00, 0x03}));
    const Bytes frame = FrameOf(*m);
    EXPECT_EQ(std::string(frame.begin(), frame.end()), ":1103006B00037E\r\n");
}

TEST(FrameExamples, RouteTextSetsAddress)
{
    plcdrv::RtuMessage rtu;
    rtu.setAddress("255.0.0.0.0");
    EXPECT_EQ(rtu.frame()[0], 255);
    plcdrv::RtuMessage wraps;
    wraps.setAddress("257");
    EXPECT_EQ(wraps.frame()[0], 1);
    plcdrv::MbxMessage mbx;
    mbx.setAddress("255.0.0.0.0");
    EXPECT_EQ(Bytes(mbx.route().begin(), mbx.route().end()), (Bytes{255, 0, 0, 0, 0, 0}));
    plcdrv::MbxMessage shortRoute;
    shortRoute.setAddress("3.300");
    EXPECT_EQ(Bytes(shortRoute.route().begin(), shortRoute.route().end()), (Bytes{3, 44, 0, 0, 0, 0}));
}

TEST(FrameExamples, UnknownKindBuildsNothing)
{
    for (int kind : {-1, 3, 100})
        EXPECT_EQ(plcdrv::BuildMessage(kind, PacketFor(1, Bytes{0x03})), nullptr) << kind;
}

// ASCII frames that are complete but not well formed, and the lower-case
// digits the protocol allows.
struct AsciiCase {
    const char* name;
    std::string frame;
    int check;
    std::uint8_t exception;
};

void PrintTo(const AsciiCase& c, std::ostream* os) { *os << c.name; }

class AsciiReplies : public testing::TestWithParam<AsciiCase> { };

TEST_P(AsciiReplies, Check)
{
    const AsciiCase& c = GetParam();
    plcdrv::AsciiMessage m;
    const Bytes readOne{0x03, 0x00, 0x00, 0x00, 0x01};
    m.setRequest(1, readOne);
    m.reset();
    for (char ch : c.frame)
        ASSERT_TRUE(m.receiveByte(static_cast<std::uint8_t>(ch)));
    m.setComplete(true);
    EXPECT_EQ(m.checkReply(), c.check);
    EXPECT_EQ(m.exceptionCode(), c.exception);
}

INSTANTIATE_TEST_SUITE_P(Frames, AsciiReplies,
    testing::Values(AsciiCase{"UpperCase", ":0103021234B4\r\n", 1, 0},
        AsciiCase{"LowerCaseLrc", ":0103021234b4\r\n", 1, 0}, AsciiCase{"LowerCaseData", ":010302abcd82\r\n", 1, 0},
        AsciiCase{"Exception", ":0183027A\r\n", 0, 2}, AsciiCase{"LowerCaseException", ":01830a72\r\n", 0, 0x0A},
        AsciiCase{"WrongLrc", ":0103021234B5\r\n", 0, 0}, AsciiCase{"NoColon", "001030212b4\r\n", 0, 0},
        AsciiCase{"OddDigitCount", ":01030212340AA\r\n", 0, 0}, AsciiCase{"NotHex", ":0103021G34B4\r\n", 0, 0},
        AsciiCase{"LfWithoutCr", ":0103021234B4\n\n", 0, 0}, AsciiCase{"TooShort", ":01FF\r\n", 0, 0},
        AsciiCase{"ExceptionWithoutCode", ":01817E\r\n", 0, 0}),
    [](const testing::TestParamInfo<AsciiCase>& info) { return std::string(info.param.name); });

// The reply-length rule as the control's TCP client applies it to whole
// PDUs: the adapter codes from 0xD0 on are data, statistics carry their count
// at byte 5, table reads count words, and a byte that is missing counts as 0
// so that a cut reply needs more than it holds.
struct PduLengthCase {
    const char* name;
    Bytes pdu;
    std::size_t needed;
};

class ReplyPduLength : public testing::TestWithParam<PduLengthCase> { };

TEST_P(ReplyPduLength, FollowsWhatTheFirstBytesAnnounce)
{
    const Bytes& pdu = GetParam().pdu;
    EXPECT_EQ(plcdrv::fc::ReplyPduLength(pdu), GetParam().needed);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplyPduLength,
    testing::Values(PduLengthCase{"ReadRegisters", {0x03, 0x04, 1, 2, 3, 4}, 6},
        PduLengthCase{"CountMissing", {0x03}, 2}, PduLengthCase{"Exception", {0x83, 0x02}, 2},
        PduLengthCase{"LastExceptionCode", {0xCF}, 2}, PduLengthCase{"NetworkTableIsData", {0xD1, 0x02, 1, 2, 3, 4}, 6},
        PduLengthCase{"AdapterWriteHasNoLayout", {0xD0}, 0},
        PduLengthCase{"StatisticsCountAtByteFive", {0x08, 0x00, 0x15, 0x00, 0x03, 0x02, 9, 8}, 8},
        PduLengthCase{"StatisticsCut", {0x08, 0x00, 0x15}, 6}, PduLengthCase{"Echo", {0x10, 0x00, 0x01, 0x00, 0x02}, 5},
        PduLengthCase{"Empty", {}, 0}),
    [](const testing::TestParamInfo<PduLengthCase>& info) { return std::string(info.param.name); });

} // namespace
