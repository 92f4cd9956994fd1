// Adapter selection and the driver path. The driver linked here refuses
// every packet, so every request that is not for the control's own TCP
// client ends in OnErrorEvent(-5); completions are driven by posting the
// driver's message to the control's window.
#include "support/modbus_server.h"
#include "test_support.h"

#include "regaccess/adapter_settings.h"
#include "regaccess/control_site.h"
#include "regaccess/frame_trace.h"
#include "regaccess/plctag.h"
#include "regaccess/transport_set.h"

#include "platform/window_messages.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace regaccess {
namespace {

using test::EventRecorder;

void DeliverPostedMessages()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST(AdapterSelectionTest, OnlyAnUnrunTcpAdapterWithAHostGoesOverTcp)
{
    const QString host = QStringLiteral("127.0.0.1");
    EXPECT_EQ(ChooseTransport({TcpIpAdapterType, 0}, host), TransportKind::ModbusTcp);
    EXPECT_EQ(ChooseTransport({TcpIpAdapterType, 1}, host), TransportKind::Driver);
    EXPECT_EQ(ChooseTransport({TcpIpAdapterType, 0}, QString()), TransportKind::Driver);
    EXPECT_EQ(ChooseTransport({SerialAdapterType, 0}, host), TransportKind::Driver);
    EXPECT_EQ(ChooseTransport({ModbusPlusAdapterType, 0}, host), TransportKind::Driver);
}

TEST(AdapterSelectionTest, HostsAreToldTheTransportTriggerTakes)
{
    test::UseServerPort(1502);
    const TransportChoice tcp = transportFor(test::TcpAdapter, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(tcp.kind, TransportKind::ModbusTcp);
    EXPECT_EQ(tcp.peer, QStringLiteral("127.0.0.1:1502"));
    const TransportChoice driver = transportFor(test::DriverTcpAdapter, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(driver.kind, TransportKind::Driver);
    EXPECT_TRUE(driver.peer.isEmpty());
}

// Every frame is traced with the transport that carried it, the adapter and
// unit it went to, whichever path completed it.
TEST(FrameTraceTest, RequestsAndRepliesOfBothTransportsAreReported)
{
    chronel::test::ModbusServer server;
    test::UseServerPort(server.port());
    QStringList seen;
    setFrameObserver([&seen](const TraceFrame& f) {
        const char* direction = f.direction == TraceDirection::Request ? ">"
            : f.direction == TraceDirection::Reply                     ? "<"
                                                                       : "!";
        seen << QStringLiteral("%1 %2 %3/%4 %5 bytes error %6")
                    .arg(QLatin1String(direction), QLatin1String(transportName(f.transport)))
                    .arg(f.adapter)
                    .arg(f.unit)
                    .arg(f.pdu.size())
                    .arg(f.errorCode);
    });
    Plctag control;
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setRoutePath(QStringLiteral("7.0.0.0.0"));
    control.setSize(2);
    ASSERT_TRUE(control.Trigger());
    control.setAdapter(test::SerialAdapter);
    EXPECT_FALSE(control.Trigger()); // this driver runs no adapter
    platform::postMessage(control.windowHandle(), platform::DRIVER_DONE_MESSAGE, 0, -3);
    DeliverPostedMessages();
    setFrameObserver({});

    EXPECT_EQ(seen,
        (QStringList{QStringLiteral("> tcp 1/7 5 bytes error 0"), QStringLiteral("< tcp 1/7 6 bytes error 0"),
            QStringLiteral("> driver 3/7 5 bytes error 0"), QStringLiteral("! driver 3/7 0 bytes error -5"),
            QStringLiteral("! driver 3/7 0 bytes error -3")}));
}

TEST(AdapterSelectionTest, ReadsTypeAndEnabledOfTheNumberedSection)
{
    const AdapterConfig tcp = ReadAdapterConfig(1);
    EXPECT_EQ(tcp.type, TcpIpAdapterType);
    EXPECT_EQ(tcp.enabled, 0);
    const AdapterConfig driverTcp = ReadAdapterConfig(2);
    EXPECT_EQ(driverTcp.type, TcpIpAdapterType);
    EXPECT_EQ(driverTcp.enabled, 1);
    const AdapterConfig missing = ReadAdapterConfig(6);
    EXPECT_EQ(missing.type, 0);
    EXPECT_EQ(missing.enabled, 0);
}

struct DriverCase {
    const char* name;
    int adapter;
    const char* host;
};

class DriverPathTest : public ::testing::TestWithParam<DriverCase> { };

TEST_P(DriverPathTest, RefusedPacketGivesMinusFiveAndLeavesTheControlIdle)
{
    chronel::test::ModbusServer server; // must not be reached
    test::UseServerPort(server.port());
    Plctag control;
    EventRecorder events(control);
    control.setAdapter(GetParam().adapter);
    control.setHost(QString::fromLatin1(GetParam().host));
    control.setRegType(Plctag::HoldRegs_4xxxx);
    EXPECT_FALSE(control.Trigger());
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error -5")});
    EXPECT_FALSE(control.Busy());
    EXPECT_EQ(control.ErrorCode(), 0);
    EXPECT_EQ(server.connectionsAccepted(), 0);
}

INSTANTIATE_TEST_SUITE_P(Adapters, DriverPathTest,
    ::testing::Values(DriverCase{"tcp_adapter_run_by_the_driver", test::DriverTcpAdapter, "127.0.0.1"},
        DriverCase{"serial_adapter", test::SerialAdapter, "127.0.0.1"},
        DriverCase{"unconfigured_adapter", test::UnconfiguredAdapter, "127.0.0.1"},
        DriverCase{"tcp_adapter_without_host", test::TcpAdapter, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriverPathTest, AdapterFileIsReadAtEveryTrigger)
{
    chronel::test::ModbusServer server;
    test::UseServerPort(server.port());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PLCDRV.INI"));
    auto writeFile = [&](const char* enabled) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[Adapter.Object.4]\nType=2\nEnabled=") + enabled + "\n");
    };
    const QByteArray saved = qgetenv("PLCDRV_INI");
    ::setenv("PLCDRV_INI", QFile::encodeName(path).constData(), 1);

    Plctag control;
    EventRecorder events(control);
    control.setAdapter(3);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    writeFile("0");
    EXPECT_TRUE(control.Trigger());
    writeFile("1");
    EXPECT_FALSE(control.Trigger());
    writeFile("0");
    EXPECT_TRUE(control.Trigger());
    ::setenv("PLCDRV_INI", saved.constData(), 1);

    EXPECT_EQ(events.events, (QStringList{QStringLiteral("read"), QStringLiteral("error -5"), QStringLiteral("read")}));
}

TEST(AdapterSelectionTest, EditOfALongUnchangedFileIsSeenAtOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PLCDRV.INI"));
    const std::string native = QFile::encodeName(path).toStdString();
    auto writeFile = [&](const char* type) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[Adapter.Object.2]\nType=") + type + "\nEnabled=0\n");
    };
    const QByteArray saved = qgetenv("PLCDRV_INI");
    ::setenv("PLCDRV_INI", native.c_str(), 1);
    writeFile("2");
    std::filesystem::last_write_time(native, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
    EXPECT_EQ(ReadAdapterConfig(2).type, TcpIpAdapterType);
    EXPECT_EQ(ReadAdapterConfig(2).type, TcpIpAdapterType);
    writeFile("1");
    EXPECT_EQ(ReadAdapterConfig(2).type, ModbusPlusAdapterType);
    ::setenv("PLCDRV_INI", saved.constData(), 1);
    EXPECT_EQ(ReadAdapterConfig(2).type, TcpIpAdapterType) << "the test file again";
    EXPECT_EQ(ReadAdapterConfig(2).enabled, 1);
}

TEST(DriverPathTest, AdapterIsClampedToSevenOnSet)
{
    Plctag control;
    control.setAdapter(9);
    EXPECT_EQ(control.Adapter(), 7);
    control.setAdapter(-2); // no lower clamp
    EXPECT_EQ(control.Adapter(), -2);
}

TEST(DriverCompletionTest, CompletionStatusIsReportedAndStoredInErrorCode)
{
    Plctag control;
    EventRecorder events(control);
    ASSERT_TRUE(platform::isWindow(control.windowHandle()));
    ASSERT_TRUE(platform::postMessage(control.windowHandle(), platform::DRIVER_DONE_MESSAGE, 0, -3));
    DeliverPostedMessages();
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error -3")});
    EXPECT_EQ(control.ErrorCode(), -3);
}

TEST(DriverCompletionTest, SuccessfulCompletionProcessesThePacketReply)
{
    // A read of no registers built by Trigger leaves function 3 and a zero
    // count in the packet: the reply to just that request.
    Plctag control;
    EventRecorder events(control);
    control.setAdapter(test::SerialAdapter);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setSize(0);
    control.Trigger();
    events.clear();
    platform::postMessage(control.windowHandle(), platform::DRIVER_DONE_MESSAGE, 0, 0);
    DeliverPostedMessages();
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read")});
    EXPECT_EQ(control.ErrorCode(), 0);
}

TEST(DriverCompletionTest, PacketThatDoesNotAnswerTheRequestIsMalformed)
{
    // The packet still holds the request (count byte 0 where a read of one
    // register is answered with 2): no part of it may pass for the reply.
    Plctag control;
    EventRecorder events(control);
    control.setAdapter(test::SerialAdapter);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setSize(1);
    control.setWordVal(0, 0x7777);
    control.Trigger();
    events.clear();
    platform::postMessage(control.windowHandle(), platform::DRIVER_DONE_MESSAGE, 0, 0);
    DeliverPostedMessages();
    EXPECT_EQ(events.events, QStringList{QStringLiteral("error -3")});
    EXPECT_EQ(control.ErrorCode(), -3);
    EXPECT_EQ(control.WordVal(0), 0x7777);
}

TEST(DriverCompletionTest, CompletionIsIgnoredInDesignModeAndOtherMessagesAlways)
{
    ControlSite site;
    Plctag control(nullptr, &site);
    EventRecorder events(control);
    site.setUserMode(false);
    platform::postMessage(control.windowHandle(), platform::DRIVER_DONE_MESSAGE, 0, -3);
    DeliverPostedMessages();
    EXPECT_TRUE(events.events.isEmpty());
    EXPECT_EQ(control.ErrorCode(), 0);

    site.setUserMode(true);
    platform::postMessage(control.windowHandle(), platform::WM_USER + 7, 0, -3);
    DeliverPostedMessages();
    EXPECT_TRUE(events.events.isEmpty());
}

TEST(DriverCompletionTest, WindowDiesWithTheControl)
{
    platform::WindowHandle handle = 0;
    {
        Plctag control;
        handle = control.windowHandle();
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(platform::isWindow(handle));
    }
    EXPECT_FALSE(platform::isWindow(handle));
    EXPECT_FALSE(platform::postMessage(handle, platform::DRIVER_DONE_MESSAGE, 0, 0));
}

TEST(HostModeTest, DesignModeAndDisabledControlsDoNotTriggerOrPoll)
{
    chronel::test::ModbusServer server;
    test::UseServerPort(server.port());
    ControlSite site;
    Plctag control(nullptr, &site);
    EventRecorder events(control);
    control.setAdapter(test::TcpAdapter);
    control.setRegType(Plctag::HoldRegs_4xxxx);

    site.setUserMode(false);
    EXPECT_FALSE(control.Trigger());
    EXPECT_FALSE(control.AutoPoll(100));
    site.setUserMode(true);
    site.setEnabled(false);
    EXPECT_FALSE(control.Trigger());
    EXPECT_FALSE(control.AutoPoll(100));
    EXPECT_EQ(control.pollInterval(), 0);
    EXPECT_TRUE(events.events.isEmpty());

    site.setEnabled(true);
    EXPECT_TRUE(control.Trigger());
    EXPECT_EQ(server.requestsServed(), 1);
}

TEST(HostModeTest, ControlWithoutSiteIsInUserModeAndEnabled)
{
    Plctag control;
    EXPECT_TRUE(control.userMode());
    EXPECT_TRUE(control.enabled());
    auto* site = new ControlSite;
    Plctag hosted(nullptr, site);
    site->setUserMode(false);
    EXPECT_FALSE(hosted.userMode());
    delete site; // the control outlives its site and falls back to the defaults
    EXPECT_TRUE(hosted.userMode());
}

} // namespace
} // namespace regaccess
