// The event scan, the status and statistics displays, "Set SER Time" and the
// test-mode commands against the simulated module chronel-sim, started for
// each test on a loopback port of its own.
#include "core/events/event_scan.h"
#include "core/live/test_mode.h"
#include "live_fixture.h"
#include "support/qt_printers.h"
#include "support/sim_process.h"

#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <memory>
#include <string>
#include <vector>

using namespace chronel;
using namespace chronel::test;

namespace {

QStringList LogLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class SimEndToEnd : public ::testing::Test {
protected:
    // Input changes the simulator plays soon after its start.
    void startSim(std::vector<std::string> args)
    {
        const QString script = dir.filePath(QStringLiteral("inputs.txt"));
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0.1 3 1\n0.2 3 0\n0.3 17 1\n0.4 32 1\n");
        f.close();
        args.push_back("--events");
        args.push_back("script:" + script.toStdString());
        ASSERT_GT(sim.startTcp(args), 0);
        UseTcpAdapter(dir, sim.port());
        rig = std::make_unique<LiveRig>();
        logPath = dir.filePath(QStringLiteral("events.txt"));
        ASSERT_EQ(rig->live->display().startLogging(logPath), EventLog::OpenResult::Opened);
    }
    void TearDown() override
    {
        rig.reset();
        sim.stop();
    }

    // The script's last change (point 32 on, the top bit of the point status
    // word, register 252) shows once all four are in the module's buffer.
    void waitForTheScript()
    {
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
        ASSERT_NE(ctx, nullptr);
        modbus_set_slave(ctx, 255);
        const bool connected = modbus_connect(ctx) == 0;
        const bool played = connected && WaitFor([ctx] {
            std::uint16_t word = 0;
            return modbus_read_registers(ctx, 252 - 1, 1, &word) == 1 && (word & 0x8000) != 0;
        });
        modbus_close(ctx);
        modbus_free(ctx);
        ASSERT_TRUE(connected);
        ASSERT_TRUE(played) << "the simulator did not play its script";
    }

    // Waits for `n` more completed status reads of the scan.
    bool statusReads(int n, int timeoutMs = 15000)
    {
        int seen = 0;
        const auto c = QObject::connect(rig->live.get(), &LiveData::statusChanged, [&] { ++seen; });
        const bool ok = WaitFor([&] { return seen >= n; }, timeoutMs);
        QObject::disconnect(c);
        return ok;
    }

    QTemporaryDir dir;
    SimProcess sim;
    std::unique_ptr<LiveRig> rig;
    QString logPath;
};

const char* const InputLines[] = {
    "  Input Point  3  On", "  Input Point  3  Off", "  Input Point  17  On", "  Input Point  32  On"};

int IndexEndingWith(const QStringList& lines, const char* end, int from = 0)
{
    for (int i = from; i < lines.size(); ++i) {
        if (lines[i].endsWith(QLatin1String(end)))
            return i;
    }
    return -1;
}

class RetrieveFromSim : public SimEndToEnd, public ::testing::WithParamInterface<int> { };

TEST_P(RetrieveFromSim, DrainsTheBufferInOrderAcknowledgingEachBlock)
{
    startSim({"--buffer-type", std::to_string(GetParam())});
    ASSERT_NO_FATAL_FAILURE(waitForTheScript());
    QSignalSpy acknowledged(&rig->scan(), &Channel::OnWriteDone);
    QSignalSpy errors(&rig->scan(), &Channel::OnErrorEvent);
    rig->start();
    // Drained: the buffer count reads 0 and a further cycle takes nothing.
    ASSERT_TRUE(WaitFor([&] { return rig->live->eventCountText() == QStringLiteral(" 0"); }, 30000));
    const int acks = int(acknowledged.count());
    ASSERT_TRUE(statusReads(3));
    EXPECT_EQ(acknowledged.count(), acks);
    EXPECT_EQ(errors.count(), 0);

    const QStringList lines = LogLines(logPath);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()).size(), lines.size()) << lines.join(u'\n').toStdString();
    if (GetParam() == 3) {
        // Text blocks carry one event each: one line per acknowledged block.
        EXPECT_EQ(lines.size(), acks);
        return;
    }
    int at = -1;
    for (const char* end : InputLines) {
        const int i = IndexEndingWith(lines, end, at + 1);
        EXPECT_GT(i, at) << end << "\n" << lines.join(u'\n').toStdString();
        at = std::max(at, i);
    }
    // A type-0 time record that comes before the module's first date record
    // (its power-on reset) shows the raw date 0-0-0.
    const QRegularExpression layout(
        QStringLiteral(R"(^(\d{4}-\d\d-\d\d|0-0-0)  \d\d:\d\d:\d\d\.\d{3}  [DS]  [GFPB]   \S.*$)"));
    for (const QString& l : lines)
        EXPECT_TRUE(layout.match(l).hasMatch()) << l.toStdString();
    if (GetParam() == 1)
        EXPECT_EQ(lines.size(), acks); // one record per block
    else
        EXPECT_LE(acks, lines.size());
}

INSTANTIATE_TEST_SUITE_P(BufferTypes, RetrieveFromSim, ::testing::Values(0, 1, 2, 3),
    [](const auto& info) { return "type" + std::to_string(info.param); });

TEST_F(SimEndToEnd, MonitorNeverAcknowledgesAndRepeatsNothing)
{
    startSim({"--buffer-type", "2"});
    ASSERT_NO_FATAL_FAILURE(waitForTheScript());
    QSignalSpy acknowledged(&rig->scan(), &Channel::OnWriteDone);
    rig->model->startUp();
    rig->live->toggleMonitorEventData();
    rig->scan().AutoPoll(15);
    ASSERT_TRUE(statusReads(8));
    EXPECT_EQ(acknowledged.count(), 0);
    const QStringList lines = LogLines(logPath);
    EXPECT_GE(IndexEndingWith(lines, InputLines[0]), 0) << lines.join(u'\n').toStdString();
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()).size(), lines.size()) << lines.join(u'\n').toStdString();
    EXPECT_NE(rig->live->eventCountText(), QStringLiteral(" 0"));
}

struct SourceCase {
    const char* option;
    TimeSourceLamp lit;
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.option; }

class StatusFromSim : public SimEndToEnd, public ::testing::WithParamInterface<SourceCase> { };

TEST_P(StatusFromSim, TimeSourceTimeAndGpsFollowTheModule)
{
    startSim({"--time-source", GetParam().option});
    rig->start();
    ASSERT_TRUE(statusReads(2));
    const StatusDisplay& s = rig->live->status();
    EXPECT_EQ(s.source(GetParam().lit), Lamp::Green) << GetParam().option;
    int lit = 0;
    for (const Lamp l : s.timeSource)
        lit += l == Lamp::Green;
    EXPECT_EQ(lit, 1);
    int quality = 0;
    for (const Lamp l : s.timeQuality)
        quality += l == Lamp::Green;
    EXPECT_EQ(quality, 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{1,2}:\d\d:\d\d(  DST)?$)")).match(s.serTime).hasMatch())
        << s.serTime.toStdString();
    EXPECT_TRUE(QDate::fromString(s.serDate, QStringLiteral("yyyy-MM-dd")).isValid()) << s.serDate.toStdString();
    EXPECT_FALSE(s.gpsStatus.isEmpty());
    EXPECT_TRUE(s.latitude.endsWith(u" N") || s.latitude.endsWith(u" S")) << s.latitude.toStdString();
    EXPECT_TRUE(s.longitude.endsWith(u" E") || s.longitude.endsWith(u" W")) << s.longitude.toStdString();
    for (const QString* v : {&s.satellites, &s.latitude, &s.longitude, &s.altitude, &s.speed, &s.course})
        EXPECT_TRUE(v->startsWith(u' ') || v->startsWith(u'-')) << v->toStdString();

    // The module's clock runs: a later read shows a later time.
    const QString first = s.serTime;
    ASSERT_TRUE(WaitFor([&] { return rig->live->status().serTime != first; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Sources, StatusFromSim,
    ::testing::Values(SourceCase{"gps", TimeSourceLamp::Gps}, SourceCase{"irig", TimeSourceLamp::Irig},
        SourceCase{"ser", TimeSourceLamp::Ser}, SourceCase{"internal", TimeSourceLamp::Internal}),
    [](const auto& info) { return std::string(info.param.option); });

TEST_F(SimEndToEnd, SetSerTimeMovesTheModuleClockToThePcClock)
{
    startSim({});
    rig->start();
    rig->scan().AutoPoll(0);
    QSignalSpy writes(&rig->timeSetup(), &Channel::OnWriteDone);
    rig->timeSetup().AutoPoll(15); // as after a download
    ASSERT_TRUE(statusReads(1));
    rig->live->timeSetup().setSerTime();
    ASSERT_TRUE(WaitFor([&] { return rig->live->timeSetup().step() == TimeSetup::Step::Reading; }));
    EXPECT_EQ(writes.count(), 3);
    ASSERT_TRUE(WaitFor([&] { return rig->live->status().serDate == QStringLiteral("2031-05-06"); }, 5000))
        << rig->live->status().serDate.toStdString();
    EXPECT_TRUE(rig->live->status().serTime.startsWith(u"7:08:") || rig->live->status().serTime.startsWith(u"7:09:"))
        << rig->live->status().serTime.toStdString();
    rig->timeSetup().AutoPoll(0);
}

TEST_F(SimEndToEnd, TestModeOnSendOffAndStatisticsWindowsFilled)
{
    startSim({});
    rig->start();
    rig->live->setStatisticsWanted([] { return true; });
    ASSERT_TRUE(WaitFor([&] { return rig->live->statistics().testModeOn.has_value(); }));
    EXPECT_FALSE(*rig->live->statistics().testModeOn);

    QObject window;
    Channel modTestMode(QStringLiteral("modTestMode"), PlctagControlFactory()(ControlClassName(), &window), &window);
    TestModeCommands commands(modTestMode, [this] { return rig->model->GetIp(); });
    commands.test();
    ASSERT_TRUE(
        WaitFor([&] { return rig->live->statistics().normalEnabled() && !rig->live->statistics().testEnabled(); }));

    TestInputs boxes{};
    boxes[0] = boxes[31] = true;
    commands.send(boxes);
    ASSERT_TRUE(WaitFor([&] {
        const auto& p = rig->model->pointStatus();
        return p[0] == IndicatorColour::Green && p[31] == IndicatorColour::Green && p[1] == IndicatorColour::ButtonFace;
    }));
    commands.normal();
    ASSERT_TRUE(
        WaitFor([&] { return rig->live->statistics().testEnabled() && !rig->live->statistics().normalEnabled(); }));
    ASSERT_TRUE(statusReads(2));
    rig->scan().AutoPoll(0);

    const QStringList lines = LogLines(logPath);
    const int on = IndexEndingWith(lines, "  Test Mode On");
    const int off = IndexEndingWith(lines, "  Test Mode Off");
    EXPECT_GE(on, 0) << lines.join(u'\n').toStdString();
    EXPECT_GT(off, on);

    const StatisticsDisplay& st = rig->live->statistics();
    for (const QString& n : st.ntpCounts)
        EXPECT_TRUE(n.startsWith(u' ')) << n.toStdString();
    for (const QString& share : st.taskShares)
        EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{1,3}\.\d?%$)")).match(share).hasMatch())
            << share.toStdString();
    EXPECT_TRUE(st.openSockets.startsWith(u' '));
    EXPECT_GE(st.openSockets.trimmed().toInt(), 1);
    EXPECT_TRUE(st.droppedPackets.startsWith(u' '));
}

TEST_F(SimEndToEnd, StoppedModuleGivesErrorLinesAndTheScanResumes)
{
    startSim({});
    rig->start();
    ASSERT_TRUE(statusReads(1));
    QSignalSpy errors(&rig->scan(), &Channel::OnErrorEvent);
    const std::uint16_t port = sim.port();
    sim.stop();
    ASSERT_TRUE(WaitFor([&] { return errors.count() >= 3; }));
    for (const auto& e : errors) {
        const int code = e[0].toInt();
        EXPECT_TRUE(code == -4 || code == 10060 || code == 10061 || code == 10054) << code;
    }
    const QStringList lines = LogLines(logPath);
    const QString expected = EventScan::ErrorMessage(errors.last()[0].value<platform::ErrorCode>());
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith(expected)) << lines.last().toStdString();
    EXPECT_TRUE(lines.last().startsWith(u"2031-05-06  07:08:09  ")) << lines.last().toStdString();

    ASSERT_GT(sim.startTcp({}, port), 0);
    const int failures = int(errors.count());
    ASSERT_TRUE(statusReads(2));
    EXPECT_LE(errors.count(), failures + 1);
}

} // namespace
