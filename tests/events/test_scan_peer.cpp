// The event scan, "Set SER Time" and the test-mode commands on real PLCTAG
// controls against a recording libmodbus server: every request the step
// machines send is counted and checked.
#include "core/events/event_scan.h"
#include "core/live/test_mode.h"
#include "live_fixture.h"
#include "support/block_builder.h"
#include "support/qt_printers.h"
#include "support/recording_peer.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <deque>
#include <memory>

using namespace chronel;
using namespace chronel::test;

namespace {

// Block i carries one record: point i + 1 on, i minutes after 1984 began.
EventBlockWords NumberedBlock(int i) { return BlockBuilder(2, 1).type2(0, 1, i + 1, 1, 60 * i, i); }

QString NumberedLine(int i)
{
    return QStringLiteral("1984-01-01  00:%1:00.%2  S  G   Input Point  %3  On")
        .arg(i, 2, 10, QLatin1Char('0'))
        .arg(i, 3, 10, QLatin1Char('0'))
        .arg(i + 1);
}

// The module's event buffer on the peer: coil 1 tells whether it holds a
// block, registers 101 … 200 show the front block with word 5 = blocks held,
// and writing 1 to coil 2 takes the front block away.
class ModuleBuffer {
public:
    explicit ModuleBuffer(RecordingPeer& peer) : peer_(peer)
    {
        peer_.setHook([this](const PeerRequest& r, modbus_mapping_t& m) {
            if (r.isWrite(2, 1) && !r.values.empty() && r.values[0] == 1 && !blocks_.empty()) {
                blocks_.pop_front();
                publish(m);
            }
        });
    }
    ~ModuleBuffer() { peer_.setHook({}); }

    // Only before the scan starts or from the hook: the memory is the peer's.
    void fill(std::deque<EventBlockWords> blocks, modbus_mapping_t* m = nullptr)
    {
        blocks_ = std::move(blocks);
        std::vector<std::uint16_t> words(100, 0);
        if (!blocks_.empty()) {
            for (int k = 0; k < 100; ++k)
                words[std::size_t(k)] = std::uint16_t(blocks_.front()[std::size_t(k)]);
            words[5] = std::uint16_t(blocks_.size());
        }
        if (m) {
            publish(*m);
            return;
        }
        peer_.setHoldings(101, words);
        peer_.setCoil(1, !blocks_.empty());
    }

private:
    void publish(modbus_mapping_t& m)
    {
        for (int k = 0; k < 100; ++k)
            m.tab_registers[100 + k] = blocks_.empty() ? 0 : std::uint16_t(blocks_.front()[std::size_t(k)]);
        if (!blocks_.empty())
            m.tab_registers[105] = std::uint16_t(blocks_.size());
        m.tab_bits[0] = blocks_.empty() ? 0 : 1;
    }

    RecordingPeer& peer_;
    std::deque<EventBlockWords> blocks_;
};

int CountReads(const std::vector<PeerRequest>& requests, int reg, int count)
{
    return int(
        std::count_if(requests.begin(), requests.end(), [&](const PeerRequest& r) { return r.isRead(reg, count); }));
}

int CountWrites(const std::vector<PeerRequest>& requests, int reg, int count)
{
    return int(
        std::count_if(requests.begin(), requests.end(), [&](const PeerRequest& r) { return r.isWrite(reg, count); }));
}

class ScanAgainstPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        peer = std::make_unique<RecordingPeer>();
        ASSERT_TRUE(peer->listening());
        UseTcpAdapter(dir, peer->port());
        rig = std::make_unique<LiveRig>();
    }
    void TearDown() override
    {
        rig.reset();
        peer.reset();
    }

    // Waits until the peer has answered `n` more status-block reads.
    bool cycles(int n)
    {
        const int target = CountReads(peer->requests(), 200, 100) + n;
        return WaitFor([&] { return CountReads(peer->requests(), 200, 100) >= target; });
    }

    QTemporaryDir dir;
    std::unique_ptr<RecordingPeer> peer;
    std::unique_ptr<LiveRig> rig;
};

TEST_F(ScanAgainstPeer, EmptyBufferReadsCoilEventBlockAndStatusAndAddsNoLine)
{
    peer->setHolding(106, 12);
    rig->start();
    ASSERT_TRUE(cycles(2));
    rig->scan().AutoPoll(0);
    const auto requests = peer->requests();
    ASSERT_GE(requests.size(), 6u);
    for (std::size_t i = 0; i + 3 <= requests.size(); i += 3) {
        EXPECT_TRUE(requests[i].isRead(1, 1)) << i;
        EXPECT_TRUE(requests[i + 1].isRead(101, 100)) << i;
        EXPECT_TRUE(requests[i + 2].isRead(200, 100)) << i;
    }
    for (const QString& line : rig->live->display().lines())
        EXPECT_TRUE(line.isEmpty());
    EXPECT_EQ(rig->live->eventCountText(), QStringLiteral(" 12"));
}

TEST_F(ScanAgainstPeer, RetrieveDrainsTheBufferInOrderAcknowledgingEachBlock)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(1), NumberedBlock(2)});
    rig->start();
    ASSERT_TRUE(WaitFor([&] { return CountWrites(peer->requests(), 2, 1) == 3 && peer->requests().size() >= 18; }));
    rig->scan().AutoPoll(0);

    const auto& lines = rig->live->display().lines();
    EXPECT_EQ(lines[13], NumberedLine(0));
    EXPECT_EQ(lines[14], NumberedLine(1));
    EXPECT_EQ(lines[15], NumberedLine(2));
    EXPECT_TRUE(lines[12].isEmpty());

    // coil 1, block, acknowledge, status — three times; then without acknowledge.
    const auto requests = peer->requests();
    ASSERT_GE(requests.size(), 12u + 6u);
    for (int b = 0; b < 3; ++b) {
        const std::size_t i = std::size_t(4 * b);
        EXPECT_TRUE(requests[i].isRead(1, 1)) << b;
        EXPECT_TRUE(requests[i + 1].isRead(101, 100)) << b;
        ASSERT_TRUE(requests[i + 2].isWrite(2, 1)) << b;
        EXPECT_EQ(requests[i + 2].values, std::vector<std::uint16_t>{1});
        EXPECT_TRUE(requests[i + 3].isRead(200, 100)) << b;
    }
    EXPECT_TRUE(requests[12].isRead(1, 1));
    EXPECT_TRUE(requests[13].isRead(101, 100));
    EXPECT_TRUE(requests[14].isRead(200, 100));
    EXPECT_EQ(CountWrites(requests, 2, 1), 3);
    EXPECT_EQ(rig->live->eventCountText(), QStringLiteral(" 0"));
}

// A collector that cannot store a block's events refuses them: the block is
// not acknowledged and the same events come again at the next cycle.
TEST_F(ScanAgainstPeer, RefusedEventsAreNotAcknowledgedAndOfferedAgain)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(1)});
    std::vector<QByteArray> offered;
    rig->live->eventScan().setEventsTaken([&](const QList<DecodedEvent>& events, const EventBlockWords&) {
        for (const DecodedEvent& e : events)
            offered.push_back(e.raw);
        return offered.size() > 1; // the first offer is refused
    });
    rig->start();
    ASSERT_TRUE(WaitFor([&] { return offered.size() >= 3 && CountWrites(peer->requests(), 2, 1) == 2; }));
    rig->scan().AutoPoll(0);
    ASSERT_GE(offered.size(), 3u);
    EXPECT_EQ(offered[0], offered[1]);
    EXPECT_NE(offered[1], offered[2]);
    const auto requests = peer->requests();
    // Refused: coil 1, block, then the status block without a write.
    EXPECT_TRUE(requests[1].isRead(101, 100));
    EXPECT_TRUE(requests[2].isRead(200, 100));
    EXPECT_TRUE(requests[4].isRead(101, 100));
    EXPECT_TRUE(requests[5].isWrite(2, 1));
    const auto& lines = rig->live->display().lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), NumberedLine(0)), 1) << "shown once, when taken";
}

TEST_F(ScanAgainstPeer, MonitorNeverAcknowledgesAndShowsAChangedBlockOnce)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(4), NumberedBlock(5)});
    // The start-up order unchecks Monitor mode; it is chosen before the
    // first event block comes back.
    rig->model->startUp();
    rig->live->toggleMonitorEventData();
    EXPECT_TRUE(rig->model->monitorEventData());
    rig->scan().AutoPoll(15);
    ASSERT_TRUE(cycles(4));
    const auto& lines = rig->live->display().lines();
    EXPECT_EQ(lines[15], NumberedLine(4));
    EXPECT_TRUE(lines[14].isEmpty());
    EXPECT_EQ(rig->live->eventCountText(), QStringLiteral(" 2"));

    // A new buffer count alone is no new event.
    peer->setHolding(106, 77);
    ASSERT_TRUE(cycles(2));
    EXPECT_TRUE(lines[14].isEmpty());
    EXPECT_EQ(rig->live->eventCountText(), QStringLiteral(" 77"));

    // A changed record area is.
    const EventBlockWords next = NumberedBlock(6);
    std::vector<std::uint16_t> words(next.begin(), next.end());
    peer->setHoldings(101, words);
    ASSERT_TRUE(cycles(3));
    EXPECT_EQ(lines[14], NumberedLine(4));
    EXPECT_EQ(lines[15], NumberedLine(6));
    EXPECT_TRUE(lines[13].isEmpty());
    EXPECT_EQ(CountWrites(peer->requests(), 2, 1), 0);
    EXPECT_TRUE(peer->coil(1));

    // Back in Retrieve mode the next cycle takes the block.
    rig->live->toggleMonitorEventData();
    EXPECT_FALSE(rig->model->monitorEventData());
    ASSERT_TRUE(WaitFor([&] { return CountWrites(peer->requests(), 2, 1) >= 1; }));
}

// The acknowledge write on a line that loses frames: a failed acknowledge is
// not repeated blindly; the block is read again and each event shown once.
class LostAcknowledge : public ScanAgainstPeer {
protected:
    using Loss = RecordingPeer::Loss;

    // Loses the frames `plan` gives for the acknowledge writes, in order
    // (the first write takes plan[0]); every other frame arrives.
    void loseAcknowledges(std::vector<Loss> plan)
    {
        peer->setLosses([plan = std::move(plan), n = std::size_t(0)](const PeerRequest& r, modbus_mapping_t&) mutable {
            if (!r.isWrite(2, 1))
                return Loss::None;
            return n < plan.size() ? plan[n++] : Loss::None;
        });
    }

    // Runs the scan until the buffer is empty and `writes` acknowledges were
    // sent, then checks that lines 0 … blocks - 1 each appear exactly once.
    void drainAndExpectEachOnce(int blocks, int writes)
    {
        rig->start();
        ASSERT_TRUE(WaitFor([&] { return !peer->coil(1) && CountWrites(peer->requests(), 2, 1) >= writes; }));
        // Two more cycles on the empty buffer: nothing shown or written again.
        ASSERT_TRUE(cycles(2));
        rig->scan().AutoPoll(0);
        const auto& lines = rig->live->display().lines();
        for (int i = 0; i < blocks; ++i)
            EXPECT_EQ(std::count(lines.begin(), lines.end(), NumberedLine(i)), 1) << i;
        EXPECT_EQ(CountWrites(peer->requests(), 2, 1), writes);
    }

    // After each failed acknowledge the next request is the coil-1 read.
    void expectCoilReadAfterEachFailedAcknowledge(int failed)
    {
        const auto requests = peer->requests();
        int seen = 0;
        for (std::size_t i = 0; i + 1 < requests.size() && seen < failed; ++i) {
            if (requests[i].isWrite(2, 1)) {
                EXPECT_TRUE(requests[i + 1].isRead(1, 1)) << i;
                ++seen;
            }
        }
        EXPECT_EQ(seen, failed);
    }
};

TEST_F(LostAcknowledge, ReplyLostTheNextBlockIsNewAndShownWhole)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(1), NumberedBlock(2)});
    loseAcknowledges({Loss::Reply});
    drainAndExpectEachOnce(3, 3);
    expectCoilReadAfterEachFailedAcknowledge(1);
}

TEST_F(LostAcknowledge, RequestLostTheSameBlockIsNotShownAgainButAcknowledged)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(1), NumberedBlock(2)});
    loseAcknowledges({Loss::Request});
    drainAndExpectEachOnce(3, 4);
    expectCoilReadAfterEachFailedAcknowledge(1);
}

TEST_F(LostAcknowledge, ReplyLostAndNoMoreEventsShowsNothingAgain)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0)});
    loseAcknowledges({Loss::Reply});
    drainAndExpectEachOnce(1, 1);
    expectCoilReadAfterEachFailedAcknowledge(1);
}

TEST_F(LostAcknowledge, ReplyLostTwiceInARow)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(1), NumberedBlock(2)});
    loseAcknowledges({Loss::Reply, Loss::Reply});
    drainAndExpectEachOnce(3, 3);
    expectCoilReadAfterEachFailedAcknowledge(2);
}

// The same record twice, in two blocks: a genuine repeat. The module counts
// fewer pending events after the lost reply, so the acknowledge was taken
// and the second block is new although it begins with the same bytes.
TEST_F(LostAcknowledge, ReplyLostBeforeAGenuineRepeatShowsTheRepeat)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(0)});
    loseAcknowledges({Loss::Reply});
    rig->start();
    ASSERT_TRUE(WaitFor([&] { return !peer->coil(1) && CountWrites(peer->requests(), 2, 1) >= 2; }));
    ASSERT_TRUE(cycles(1));
    rig->scan().AutoPoll(0);
    const auto& lines = rig->live->display().lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), NumberedLine(0)), 2);
}

TEST_F(LostAcknowledge, RequestLostWhileTheModuleAddsRecordsShowsOnlyTheAddedOnes)
{
    ModuleBuffer buffer(*peer);
    buffer.fill({NumberedBlock(0), NumberedBlock(2)});
    // The module adds record 1 to the block it presents while the
    // acknowledge is lost on the way.
    bool grown = false;
    peer->setLosses([&](const PeerRequest& r, modbus_mapping_t& m) {
        if (!r.isWrite(2, 1) || grown)
            return Loss::None;
        grown = true;
        buffer.fill({BlockBuilder(2, 2).type2(0, 1, 1, 1, 0, 0).type2(1, 1, 2, 1, 60, 1), NumberedBlock(2)}, &m);
        return Loss::Request;
    });
    drainAndExpectEachOnce(3, 3);
}

TEST_F(ScanAgainstPeer, StatusBlockFillsTimeGpsAndPointStatus)
{
    peer->setHoldings(200, {0, 8, 0, 0, 12, 24, 2030, 9, 5, 7, 6, 9});
    peer->setHolding(222, 2);
    peer->setHolding(223, 1);
    peer->setHolding(251, 0x0001);
    peer->setHolding(252, 0x8000);
    rig->start();
    ASSERT_TRUE(cycles(1));
    const StatusDisplay& s = rig->live->status();
    EXPECT_EQ(s.serTime, QStringLiteral("9:05:07  DST"));
    EXPECT_EQ(s.serDate, QStringLiteral("2030-12-24"));
    EXPECT_EQ(s.gpsStatus, QStringLiteral("Estimated"));
    EXPECT_EQ(s.satellites, QStringLiteral(" 9"));
    EXPECT_EQ(s.source(TimeSourceLamp::Internal), Lamp::Green);
    EXPECT_EQ(s.source(TimeSourceLamp::Gps), Lamp::Yellow);
    EXPECT_EQ(s.quality(TimeQualityLamp::Poor), Lamp::Green);
    EXPECT_EQ(rig->model->pointStatus()[0], IndicatorColour::Green);
    EXPECT_EQ(rig->model->pointStatus()[1], IndicatorColour::ButtonFace);
    EXPECT_EQ(rig->model->pointStatus()[31], IndicatorColour::Green);
}

TEST_F(ScanAgainstPeer, StatisticsBlockIsReadOnlyWhileAWindowWantsIt)
{
    peer->setHolding(1576, 3);
    peer->setHolding(1577, 0x55AA);
    rig->start();
    ASSERT_TRUE(cycles(2));
    EXPECT_EQ(CountReads(peer->requests(), 1501, 100), 0);

    bool open = true;
    rig->live->setStatisticsWanted([&open] { return open; });
    const int before = CountReads(peer->requests(), 1501, 100);
    ASSERT_TRUE(WaitFor([&] { return CountReads(peer->requests(), 1501, 100) > before + 1; }));
    open = false;
    EXPECT_EQ(rig->live->statistics().openSockets, QStringLiteral(" 3"));
    EXPECT_TRUE(rig->live->statistics().normalEnabled());
    EXPECT_FALSE(rig->live->statistics().testEnabled());

    // A statistics read always follows a status read.
    const auto requests = peer->requests();
    for (std::size_t i = 1; i < requests.size(); ++i) {
        if (requests[i].isRead(1501, 100)) {
            EXPECT_TRUE(requests[i - 1].isRead(200, 100)) << i;
        }
    }
    // Closed windows: the next step 3 goes back to coil 1.
    ASSERT_TRUE(cycles(1));
    const int after = CountReads(peer->requests(), 1501, 100);
    ASSERT_TRUE(cycles(3));
    EXPECT_EQ(CountReads(peer->requests(), 1501, 100), after);
}

TEST_F(ScanAgainstPeer, ExceptionGivesAnErrorLineAndTheSameRequestAgain)
{
    rig->start();
    ASSERT_TRUE(cycles(1));
    peer->setException(std::pair{101, std::uint8_t(2)});
    ASSERT_TRUE(WaitFor([&] { return rig->live->display().lines()[14].size() > 0; }));
    // From the second failure on, the scan asks for nothing but the block.
    const std::size_t failingFrom = peer->requests().size();
    peer->setException(std::pair{101, std::uint8_t(4)});
    ASSERT_TRUE(WaitFor([&] { return rig->live->display().lines()[15].endsWith(u"#  4"); }));
    ASSERT_TRUE(WaitFor([&] { return peer->requests().size() >= failingFrom + 3; }));
    const std::size_t failingTo = peer->requests().size();
    peer->setException(std::nullopt);
    ASSERT_TRUE(cycles(2));
    rig->scan().AutoPoll(0);

    const auto& lines = rig->live->display().lines();
    int illegalAddress = 0;
    for (const QString& l : lines) {
        if (l ==
            QStringLiteral("2031-05-06  07:08:09  [PC clock]  127.0.0.1  Communications error - Illegal Data Address"))
            ++illegalAddress;
    }
    EXPECT_GE(illegalAddress, 1);
    EXPECT_TRUE(
        std::find(lines.begin(), lines.end(),
            QStringLiteral("2031-05-06  07:08:09  [PC clock]  127.0.0.1  Communications error #  4")) != lines.end());
    // While failing, only the event block was asked for, again and again;
    // once answered, the cycle goes on to the status block.
    const auto requests = peer->requests();
    ASSERT_GE(failingTo, failingFrom + 2);
    for (std::size_t i = failingFrom; i < failingTo; ++i)
        EXPECT_TRUE(requests[i].isRead(101, 100)) << i;
    std::size_t next = failingTo;
    while (next < requests.size() && requests[next].isRead(101, 100))
        ++next;
    ASSERT_LT(next, requests.size());
    EXPECT_TRUE(requests[next].isRead(200, 100)) << next;
}

TEST_F(ScanAgainstPeer, StoppedPeerGivesErrorLinesAndTheScanResumesWhenItReturns)
{
    rig->start();
    ASSERT_TRUE(cycles(1));
    QSignalSpy errors(&rig->scan(), &Channel::OnErrorEvent);
    const std::uint16_t port = peer->port();
    peer.reset();
    ASSERT_TRUE(WaitFor([&] { return errors.count() >= 2; }));
    const int code = errors[0][0].toInt();
    EXPECT_TRUE(code == -4 || code == 10060 || code == 10061 || code == 10054) << code;
    const QString last = rig->live->display().lines()[15];
    // The PC's time, marked as such, and the address that failed.
    EXPECT_EQ(last,
        QStringLiteral("2031-05-06  07:08:09  [PC clock]  127.0.0.1") +
            EventScan::ErrorMessage(errors.last()[0].value<platform::ErrorCode>()));

    peer = std::make_unique<RecordingPeer>(port);
    ASSERT_TRUE(peer->listening());
    peer->setHolding(207, 21);
    ASSERT_TRUE(cycles(2));
    EXPECT_TRUE(rig->live->status().serTime.startsWith(u"21:"));
}

TEST_F(ScanAgainstPeer, AnEditedModuleAddressTakesEffectAtTheNextPoll)
{
    rig->start();
    ASSERT_TRUE(cycles(1));
    QSignalSpy errors(&rig->scan(), &Channel::OnErrorEvent);
    // Another loopback address, where nothing listens.
    SetModuleAddress(*rig->model, "127", "0", "0", "2");
    ASSERT_TRUE(WaitFor([&] { return errors.count() >= 1; }));
    EXPECT_EQ(rig->scan().Host(), QStringLiteral("127.0.0.2"));
    SetModuleAddress(*rig->model, "127", "0", "0", "1");
    ASSERT_TRUE(cycles(1));
    EXPECT_EQ(rig->scan().Host(), QStringLiteral("127.0.0.1"));
}

TEST_F(ScanAgainstPeer, StepOutsideTheCycleRestartsAtCoilOne)
{
    rig->start();
    rig->scan().AutoPoll(0);
    ASSERT_TRUE(WaitFor([&] { return !rig->scan().Busy(); }));
    rig->live->eventScan().restartCycle();
    const auto before = peer->requests().size();
    rig->scan().Trigger();
    ASSERT_TRUE(WaitFor([&] { return peer->requests().size() > before; }));
    EXPECT_EQ(rig->live->eventScan().step(), EventScan::Step::EventAvailable);
    EXPECT_EQ(rig->scan().Address(), 1);
    EXPECT_EQ(rig->scan().RegType(), 0);
    EXPECT_EQ(rig->scan().Size(), 1);
    EXPECT_EQ(rig->scan().Function(), 0);
}

TEST(ScanMessages, ErrorCodeTexts)
{
    const std::pair<int, const char*> cases[] = {
        {-4, "  Communications error - Host did not respond"},
        {-3, "  Communications error - PLC did not respond"},
        {-2, "  Communications error - Unable to create PLC protocol packet"},
        {-1, "  Communications error - Adaptor Invalid"},
        {1, "  Communications error - Illegal Function"},
        {2, "  Communications error - Illegal Data Address"},
        {3, "  Communications error - Illegal Data Value"},
        {6, "  Communications error - Slave Device is busy"},
        {18, "  Communications error - Invalid Node Address"},
        {4, "  Communications error #  4"},
        {-5, "  Communications error # -5"},
        {0, "  Communications error #  0"},
        {10060, "  Communications error #  10060"},
        {10061, "  Communications error #  10061"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(EventScan::ErrorMessage(platform::toErrorCode(code)), QString::fromLatin1(text)) << code;
}

class TimeSetupAgainstPeer : public ScanAgainstPeer { };

TEST_F(TimeSetupAgainstPeer, SetSerTimeWritesThreeTimesThenReadsAgain)
{
    peer->setHoldings(200, {0, 1, 0, 0, 1, 2, 2020, 3, 4, 5, 1, 7});
    peer->setHolding(202, 0x1234);
    rig->start();
    rig->scan().AutoPoll(0);
    peer->clearRequests();
    rig->timeSetup().AutoPoll(15);
    ASSERT_TRUE(WaitFor([&] { return rig->live->status().serTime == QStringLiteral("3:04:05"); }));

    rig->live->timeSetup().setSerTime();
    ASSERT_TRUE(WaitFor([&] {
        return rig->live->timeSetup().step() == TimeSetup::Step::Reading && CountWrites(peer->requests(), 200, 24) == 3;
    }));
    const int readsAfterWrites = CountReads(peer->requests(), 200, 24);
    ASSERT_TRUE(WaitFor([&] { return CountReads(peer->requests(), 200, 24) >= readsAfterWrites + 2; }));
    rig->timeSetup().AutoPoll(0);

    std::vector<PeerRequest> writes;
    for (const PeerRequest& r : peer->requests()) {
        if (r.function != 3 && r.function != 1)
            writes.push_back(r);
    }
    ASSERT_EQ(writes.size(), 3u);
    for (const PeerRequest& w : writes) {
        ASSERT_TRUE(w.isWrite(200, 24));
        ASSERT_EQ(w.values.size(), 24u);
        EXPECT_EQ(w.values[1], 1); // the status read, written back
        EXPECT_EQ(w.values[10], 1);
        EXPECT_EQ(w.values[11], 7);
    }
    EXPECT_EQ(writes[0].values[2], 0);
    EXPECT_EQ(std::vector<std::uint16_t>(writes[0].values.begin() + 4, writes[0].values.begin() + 10),
        (std::vector<std::uint16_t>{1, 2, 2020, 3, 4, 5}));
    const std::vector<std::uint16_t> pcTime{5, 6, 2031, 7, 8, 9};
    EXPECT_EQ(writes[1].values[2], 0);
    EXPECT_EQ(std::vector<std::uint16_t>(writes[1].values.begin() + 4, writes[1].values.begin() + 10), pcTime);
    EXPECT_EQ(writes[2].values[2], 0x8000);
    EXPECT_EQ(std::vector<std::uint16_t>(writes[2].values.begin() + 4, writes[2].values.begin() + 10), pcTime);
    EXPECT_EQ(peer->holding(202), 0x8000);
}

TEST_F(TimeSetupAgainstPeer, ButtonWhileNotPollingOnlyPreparesTheFirstWrite)
{
    rig->start();
    rig->scan().AutoPoll(0);
    rig->live->timeSetup().setSerTime();
    QTest::qWait(100);
    EXPECT_EQ(CountWrites(peer->requests(), 200, 24), 0);
    EXPECT_EQ(rig->live->timeSetup().step(), TimeSetup::Step::ClearCommand);
    rig->timeSetup().AutoPoll(15);
    ASSERT_TRUE(WaitFor([&] { return rig->live->timeSetup().step() == TimeSetup::Step::Reading; }));
    rig->timeSetup().AutoPoll(0);
    EXPECT_EQ(CountWrites(peer->requests(), 200, 24), 3);
}

TEST_F(TimeSetupAgainstPeer, ButtonBeforeAnyDownloadStartsTheTimeSetupPolls)
{
    rig->start(); // the event scan polls as after start-up; the time setup does not yet
    ASSERT_EQ(rig->timeSetup().pollInterval(), 0);
    rig->live->timeSetup().setSerTime();
    EXPECT_EQ(rig->timeSetup().pollInterval(), TimeSetupPollInterval);
    // One write at once, then one per 2000 ms poll.
    ASSERT_TRUE(WaitFor([&] { return rig->live->timeSetup().step() == TimeSetup::Step::Reading; }, 8000));
    rig->timeSetup().AutoPoll(0);
    EXPECT_EQ(CountWrites(peer->requests(), 200, 24), 3);
}

TEST_F(TimeSetupAgainstPeer, ErrorsRefreshTheHostAndRepeatTheWrite)
{
    rig->start();
    rig->scan().AutoPoll(0);
    peer->setException(std::pair{200, std::uint8_t(6)});
    rig->live->timeSetup().setSerTime();
    rig->timeSetup().AutoPoll(15);
    ASSERT_TRUE(WaitFor([&] { return peer->requests().size() >= 3; }));
    EXPECT_EQ(rig->live->timeSetup().step(), TimeSetup::Step::ClearCommand);
    peer->setException(std::nullopt);
    ASSERT_TRUE(WaitFor([&] { return rig->live->timeSetup().step() == TimeSetup::Step::Reading; }));
    rig->timeSetup().AutoPoll(0);
    // Nothing of it reached the event display.
    EXPECT_TRUE(rig->live->display().lines()[15].isEmpty());
}

TEST_F(ScanAgainstPeer, TestModeCommandsWriteTheirRegisters)
{
    rig->start();
    rig->scan().AutoPoll(0);
    peer->clearRequests();
    QObject window;
    Channel modTestMode(QStringLiteral("modTestMode"), PlctagControlFactory()(ControlClassName(), &window), &window);
    TestModeCommands commands(modTestMode, [this] { return rig->model->GetIp(); });

    commands.test();
    EXPECT_EQ(peer->holding(1577), 0x55AA);
    TestInputs boxes{};
    boxes[0] = boxes[31] = true;
    commands.send(boxes);
    EXPECT_EQ(peer->holding(1578), 0x0001);
    EXPECT_EQ(peer->holding(1579), 0x8000);
    commands.normal();
    EXPECT_EQ(peer->holding(1577), 0);

    const auto requests = peer->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[0].isWrite(1577, 1));
    EXPECT_TRUE(requests[1].isWrite(1578, 2));
    EXPECT_TRUE(requests[2].isWrite(1577, 1));
    EXPECT_EQ(modTestMode.RoutePath(), QStringLiteral("255.0.0.0.0"));
}

} // namespace
