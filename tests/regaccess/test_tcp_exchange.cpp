// The control against a real Modbus TCP server (libmodbus): reads and writes
// of all four register types, exceptions, large blocks, the request frame,
// connection reuse and the order of events on the synchronous path.
#include "fault_server.h"
#include "support/modbus_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"

#include <gtest/gtest.h>

#include <chrono>

namespace regaccess {
namespace {

using test::EventRecorder;

class TcpControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::UseServerPort(server.port());
        control.setAdapter(test::TcpAdapter);
        control.setHost(QStringLiteral("127.0.0.1"));
        control.setRoutePath(QStringLiteral("255.0.0.0.0"));
    }

    void request(int function, int regType, int address, int size)
    {
        control.setFunction(function);
        control.setRegType(regType);
        control.setAddress(address);
        control.setSize(size);
    }

    chronel::test::ModbusServer server;
    Plctag control;
    EventRecorder events{control};
};

TEST_F(TcpControlTest, ReadsCoilsIntoBufferBitOrder)
{
    server.withMapping([](modbus_mapping_t& m) {
        for (int i = 0; i < 20; ++i)
            m.tab_bits[10 + i] = (i % 3 == 0) ? 1 : 0; // coils 11, 14, 17, …
    });
    request(0, Plctag::Coils_0xxxx, 11, 20);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read")});
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(control.BitVal(i / 16, i % 16), i % 3 == 0) << i;
    EXPECT_EQ(control.ErrorCode(), 0);
}

TEST_F(TcpControlTest, ReadsDiscreteInputs)
{
    server.withMapping([](modbus_mapping_t& m) {
        m.tab_input_bits[0] = 1;
        m.tab_input_bits[9] = 1;
    });
    request(0, Plctag::InputBits_1xxxx, 1, 10);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 0x0201);
}

TEST_F(TcpControlTest, ReadsInputAndHoldingRegistersInHostOrder)
{
    server.withMapping([](modbus_mapping_t& m) {
        m.tab_input_registers[99] = 0xBEEF;
        m.tab_registers[0] = 1;
        m.tab_registers[1] = 2;
        m.tab_registers[2] = 0xFFFF;
    });
    request(0, Plctag::InputRegs_3xxxx, 100, 1);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(static_cast<std::uint16_t>(control.WordVal(0)), 0xBEEF);

    request(0, Plctag::HoldRegs_4xxxx, 1, 3);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 1);
    EXPECT_EQ(control.WordVal(1), 2);
    EXPECT_EQ(control.WordVal(2), -1);
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("read"), QStringLiteral("read")}));
}

TEST_F(TcpControlTest, LongsReadFromTwoRegistersLowHalfFirst)
{
    server.withMapping([](modbus_mapping_t& m) {
        m.tab_registers[10] = 0x5678;
        m.tab_registers[11] = 0x1234;
    });
    request(0, Plctag::HoldRegs_4xxxx, 11, 2);
    ASSERT_TRUE(control.Trigger());
    EXPECT_EQ(control.LongVal(0), 0x12345678);
    EXPECT_EQ(control.BCDLong(0), 12345678);
}

TEST_F(TcpControlTest, WritesSingleAndMultipleCoils)
{
    control.setWordVal(0, 1);
    request(1, Plctag::Coils_0xxxx, 5, 1);
    EXPECT_TRUE(control.Trigger());
    control.setWordVal(0, 0x0305); // coils 21, 23, 29, 30 of the block at 21
    request(1, Plctag::Coils_0xxxx, 21, 10);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("write"), QStringLiteral("write")}));
    server.withMapping([](modbus_mapping_t& m) {
        EXPECT_EQ(m.tab_bits[4], 1);
        const int expected[10] = {1, 0, 1, 0, 0, 0, 0, 0, 1, 1};
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(m.tab_bits[20 + i], expected[i]) << i;
    });
}

TEST_F(TcpControlTest, WritesHoldingRegistersAlsoASingleOne)
{
    control.setWordVal(0, 0x1234);
    control.setWordVal(1, -2);
    request(1, Plctag::HoldRegs_4xxxx, 300, 1);
    EXPECT_TRUE(control.Trigger());
    request(1, Plctag::HoldRegs_4xxxx, 400, 2);
    EXPECT_TRUE(control.Trigger());
    server.withMapping([](modbus_mapping_t& m) {
        EXPECT_EQ(m.tab_registers[299], 0x1234);
        EXPECT_EQ(m.tab_registers[399], 0x1234);
        EXPECT_EQ(m.tab_registers[400], 0xFFFE);
    });
}

TEST_F(TcpControlTest, LargestBlocksRoundTrip)
{
    for (int i = 0; i < 100; ++i)
        control.setWordVal(i, 1000 + i);
    request(1, Plctag::HoldRegs_4xxxx, 1001, 150);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.Size(), 100);

    server.withMapping([](modbus_mapping_t& m) {
        for (int i = 0; i < 125; ++i)
            m.tab_registers[2000 + i] = static_cast<std::uint16_t>(0x8000 + i);
        for (int i = 0; i < 2000; ++i)
            m.tab_bits[5000 + i] = (i % 7 == 0);
    });
    request(0, Plctag::HoldRegs_4xxxx, 2001, 300);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.Size(), 125);
    for (int i = 0; i < 125; ++i)
        ASSERT_EQ(static_cast<std::uint16_t>(control.WordVal(i)), 0x8000 + i) << i;

    request(0, Plctag::Coils_0xxxx, 5001, 2000);
    EXPECT_TRUE(control.Trigger());
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(control.BitVal(i / 16, i % 16), i % 7 == 0) << i;

    for (int i = 0; i < 124; ++i)
        control.setWordVal(i, 0x5555);
    request(1, Plctag::Coils_0xxxx, 20001, 1968);
    EXPECT_TRUE(control.Trigger());
    server.withMapping([](modbus_mapping_t& m) {
        for (int i = 0; i < 1968; ++i)
            ASSERT_EQ(m.tab_bits[20000 + i], (i % 2 == 0) ? 1 : 0) << i;
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(m.tab_registers[1000 + i], 1000 + i) << i;
    });
    EXPECT_EQ(events.events.size(), 4);
}

TEST_F(TcpControlTest, ExceptionReplyGivesErrorEventAndErrorCodeUntilTheNextSuccess)
{
    request(0, Plctag::HoldRegs_4xxxx, 65500, 125); // runs past the last register
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.last(), QStringLiteral("error 2"));
    EXPECT_EQ(control.ErrorCode(), 2);

    request(0, Plctag::HoldRegs_4xxxx, 1, 0); // a count of 0 is an illegal value
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.last(), QStringLiteral("error 3"));
    EXPECT_EQ(control.ErrorCode(), 3);

    request(0, Plctag::HoldRegs_4xxxx, 1, 1);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.last(), QStringLiteral("read"));
    EXPECT_EQ(control.ErrorCode(), 0);
}

TEST_F(TcpControlTest, SlaveIdReplyLandsInTheBuffer)
{
    request(3, Plctag::HoldRegs_4xxxx, 1, 1);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(events.last(), QStringLiteral("read"));
    // libmodbus answers: slave id, run indicator 0xFF, then its version text.
    EXPECT_EQ(control.ByteVal(1), 0xFF);
    EXPECT_EQ(control.ByteVal(2), 'L');
}

TEST_F(TcpControlTest, AddressZeroReadsTheLastRegister)
{
    server.withMapping([](modbus_mapping_t& m) { m.tab_registers[65535] = 4242; });
    request(0, Plctag::HoldRegs_4xxxx, 0, 1);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(control.WordVal(0), 4242);
}

TEST_F(TcpControlTest, ConnectionIsReusedAndRenewedWhenHostChanges)
{
    request(0, Plctag::HoldRegs_4xxxx, 1, 1);
    EXPECT_TRUE(control.Trigger());
    EXPECT_TRUE(control.Trigger());
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(server.connectionsAccepted(), 1);

    control.setHost(QStringLiteral("localhost")); // same server, other text
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(server.connectionsAccepted(), 2);
    control.setHost(QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(control.Trigger());
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(server.connectionsAccepted(), 3);
    EXPECT_EQ(server.requestsServed(), 6);
}

TEST_F(TcpControlTest, EachControlHasItsOwnConnection)
{
    Plctag other;
    other.setAdapter(test::TcpAdapter);
    other.setFunction(0);
    other.setRegType(Plctag::HoldRegs_4xxxx);
    request(0, Plctag::HoldRegs_4xxxx, 1, 1);
    EXPECT_TRUE(control.Trigger());
    EXPECT_TRUE(other.Trigger());
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(server.connectionsAccepted(), 2);
}

TEST_F(TcpControlTest, UnresolvableHostFailsAtOnceEveryTime)
{
    control.setHost(QStringLiteral(" . . . "));
    control.setTimeToLive(30000);
    request(0, Plctag::HoldRegs_4xxxx, 1, 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(control.Trigger());
    EXPECT_FALSE(control.Trigger());
    // Nothing is waited for: a 30000-test budget would take half a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("error 10022"), QStringLiteral("error 10022")}));
    EXPECT_EQ(server.connectionsAccepted(), 0);
}

TEST_F(TcpControlTest, TransportFailureLeavesErrorCodeAlone)
{
    request(0, Plctag::HoldRegs_4xxxx, 65500, 125);
    control.Trigger();
    ASSERT_EQ(control.ErrorCode(), 2);
    control.setHost(QStringLiteral(" . . . "));
    control.Trigger();
    EXPECT_EQ(events.last(), QStringLiteral("error 10022"));
    EXPECT_EQ(control.ErrorCode(), 2);
}

TEST_F(TcpControlTest, RefusedConnectionIsReported)
{
    std::uint16_t closedPort = 0;
    {
        chronel::test::ModbusServer gone;
        closedPort = gone.port();
    }
    test::UseServerPort(closedPort);
    request(0, Plctag::HoldRegs_4xxxx, 1, 1);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.last(), QStringLiteral("error 10061"));
}

TEST_F(TcpControlTest, EventsFireInsideTriggerWithBusyFalseAndMayTriggerAgain)
{
    request(0, Plctag::HoldRegs_4xxxx, 1, 1);
    int nested = 0;
    QObject::connect(&control, &Plctag::OnReadDone, &control, [&] {
        if (nested++ == 0) {
            control.setAddress(2);
            EXPECT_TRUE(control.Trigger()); // runs at once on the same connection
        }
    });
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("read"), QStringLiteral("read")}));
    EXPECT_FALSE(control.Busy());
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST_F(TcpControlTest, UnbuildableRequestSendsNothing)
{
    request(1, Plctag::InputBits_1xxxx, 1, 1);
    EXPECT_FALSE(control.Trigger());
    control.setFunction(1);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setRoutePath(QString());
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("error -5"), QStringLiteral("error -5")}));
    EXPECT_EQ(server.connectionsAccepted(), 0);
}

TEST(TcpFrameTest, FrameCarriesUnitLengthAndPdu)
{
    test::FaultServer server([](test::FaultConnection& c) {
        while (auto request = c.readRequest())
            c.send(test::RegisterReply(*request, 1));
    });
    test::UseServerPort(server.port());
    Plctag control;
    control.setAdapter(test::TcpAdapter);
    control.setRoutePath(QStringLiteral("255.0.0.0.0"));
    control.setFunction(0);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setAddress(1);
    control.setSize(10);
    ASSERT_TRUE(control.Trigger());
    control.setRoutePath(QStringLiteral("7"));
    control.setAddress(0x1235);
    control.setSize(2);
    ASSERT_TRUE(control.Trigger());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    // Each request has a transaction identifier of its own.
    EXPECT_EQ(requests[0], (test::Bytes{0, 1, 0, 0, 0, 6, 255, 3, 0, 0, 0, 10}));
    EXPECT_EQ(requests[1], (test::Bytes{0, 2, 0, 0, 0, 6, 7, 3, 0x12, 0x34, 0, 2}));
    EXPECT_EQ(control.WordVal(0), 1);
    EXPECT_EQ(control.WordVal(1), 2);
}

} // namespace
} // namespace regaccess
