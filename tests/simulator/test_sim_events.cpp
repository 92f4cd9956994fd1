// Event generation and draining for every event buffer type, against the
// real program with a scripted input sequence.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim_client.h"
#include "support/sim_process.h"

using namespace simtest;
using chronel::test::SimProcess;

namespace {

// Forty changes of points 1 ... 8 and 32, more than one block of any type holds.
std::vector<std::pair<int, int>> ScriptChanges()
{
    std::vector<std::pair<int, int>> v;
    for (int i = 0; i < 40; ++i)
        v.emplace_back(i % 8 + 1, (i / 8) % 2 == 0 ? 1 : 0);
    v.emplace_back(32, 1);
    return v;
}

class SimEventTypes : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        script_ =
            testing::TempDir() + "chronel_sim_script_" + std::to_string(::getpid()) + "_" + std::to_string(GetParam());
        std::ofstream f(script_);
        f << "# seconds point state\n";
        int i = 0;
        for (auto [p, s] : ScriptChanges())
            f << 0.05 + 0.005 * i++ << ' ' << p << ' ' << s << '\n';
        f.close();
        port_ = sim_.startTcp({"--events", "script:" + script_, "--buffer-type", std::to_string(GetParam())});
        ASSERT_GT(port_, 0) << sim_.stderrText();
        c_ = ConnectTcp(port_);
        ASSERT_TRUE(c_);
    }
    void TearDown() override { std::remove(script_.c_str()); }

    std::string script_;
    SimProcess sim_;
    int port_ = -1;
    Modbus c_;
};

TEST_P(SimEventTypes, AcknowledgeDrainsTheBufferInOrder)
{
    const int type = GetParam();
    const size_t expected = 3 + ScriptChanges().size(); // power-on reset, date, GPS lock, changes
    ASSERT_TRUE(WaitFor([&] {
        auto w = ReadRegs(c_.get(), 101, 100);
        return w.size() == 100 && w[5] >= expected;
    }));
    auto status = ReadRegs(c_.get(), 200, 100);
    EXPECT_EQ(status[52], 0x8000); // point 32 on
    auto today = std::make_tuple(status[6], status[4], status[5]);

    std::vector<std::vector<uint16_t>> blocks;
    auto events = DrainEvents(c_.get(), 200, &blocks);
    ASSERT_FALSE(blocks.empty());
    for (auto& b : blocks)
        EXPECT_EQ(b[1], type);
    EXPECT_EQ(blocks.front()[0], 1); // Module ID
    EXPECT_EQ(blocks.front()[5], expected);
    const size_t perBlock[] = {30, 1, 22, 1};
    EXPECT_EQ(blocks.front()[2], perBlock[type]);
    EXPECT_EQ(blocks.size(), (expected + perBlock[type] - 1) / perBlock[type]);

    uint8_t avail = 1;
    ASSERT_EQ(modbus_read_bits(c_.get(), 0, 1, &avail), 1);
    EXPECT_EQ(avail, 0);
    EXPECT_EQ(ReadRegs(c_.get(), 101, 100)[5], 0);

    ASSERT_EQ(events.size(), expected);
    if (type == 3) {
        EXPECT_NE(events[0].text.find("  Power on Reset"), std::string::npos) << events[0].text;
        EXPECT_NE(events[3].text.find("  Point  1  On"), std::string::npos) << events[3].text;
        EXPECT_NE(events.back().text.find("  Point  32  On"), std::string::npos) << events.back().text;
        char date[32];
        std::snprintf(date, sizeof date, "%02d/%02d/%04d", std::get<1>(today), std::get<2>(today), std::get<0>(today));
        EXPECT_EQ(events.back().text.rfind(date, 0), 0u) << events.back().text;
        return;
    }
    EXPECT_EQ(events[0].kind, 6);
    EXPECT_EQ(events[1].kind, 13);
    EXPECT_EQ(events[2].kind, 20);
    auto changes = ScriptChanges();
    for (size_t i = 0; i < changes.size(); ++i) {
        const Decoded& e = events[3 + i];
        EXPECT_EQ(e.kind, 1) << i;
        EXPECT_EQ(e.point, changes[i].first) << i;
        EXPECT_EQ(e.state, changes[i].second) << i;
        EXPECT_EQ(e.source, 0);
        EXPECT_EQ(std::make_tuple(e.year, e.month, e.day), today) << i;
    }
    // Records are time-ordered within the run.
    for (size_t i = 4; i < events.size(); ++i) {
        auto key = [](const Decoded& d) { return ((d.hour * 60 + d.minute) * 60 + d.second) * 1000 + d.ms; };
        if (key(events[i]) < key(events[i - 1])) {
            EXPECT_LT(key(events[i]), 1000) << "only across midnight";
        }
    }
}

TEST_P(SimEventTypes, TimeResyncIsReportedWithTheNewDateAndTime)
{
    const int type = GetParam();
    ASSERT_TRUE(WaitFor([&] { return ReadRegs(c_.get(), 101, 100)[5] >= 3 + ScriptChanges().size(); }));
    DrainEvents(c_.get());
    auto buf = ReadRegs(c_.get(), 200, 24);
    buf[2] = 0;
    ASSERT_TRUE(WriteRegs(c_.get(), 200, buf));
    buf[4] = 12;
    buf[5] = 31;
    buf[6] = 2030;
    buf[7] = 22;
    buf[8] = 58;
    buf[9] = 3;
    ASSERT_TRUE(WriteRegs(c_.get(), 200, buf));
    buf[2] = 0x8000;
    ASSERT_TRUE(WriteRegs(c_.get(), 200, buf));
    auto events = DrainEvents(c_.get());
    ASSERT_EQ(events.size(), 2u);
    if (type == 3) {
        EXPECT_NE(events[1].text.find("12/31/2030  22:58:0"), std::string::npos) << events[1].text;
        EXPECT_NE(events[1].text.find("  Time Resync New Time"), std::string::npos);
        return;
    }
    EXPECT_EQ(events[0].kind, 11);
    EXPECT_EQ(events[1].kind, 12);
    EXPECT_EQ(std::make_tuple(events[1].year, events[1].month, events[1].day, events[1].hour, events[1].minute),
        std::make_tuple(2030, 12, 31, 22, 58));
    EXPECT_LE(events[1].second, 5);
}

INSTANTIATE_TEST_SUITE_P(BufferTypes, SimEventTypes, testing::Values(0, 1, 2, 3),
    [](const testing::TestParamInfo<int>& i) { return "Type" + std::to_string(i.param); });

TEST(SimEvents, RandomGeneratorProducesPointChanges)
{
    SimProcess sim;
    int port = sim.startTcp({"--events", "random:200", "--seed", "7"});
    ASSERT_GT(port, 0);
    Modbus c = ConnectTcp(port);
    ASSERT_TRUE(WaitFor([&] { return ReadRegs(c.get(), 101, 100)[5] >= 40; }));
    auto events = DrainEvents(c.get(), 5);
    int changes = 0;
    for (auto& e : events)
        changes += e.kind == 1 && e.point >= 1 && e.point <= 32;
    EXPECT_GE(changes, 30);
}

TEST(SimEvents, DisabledPointReportsNoChanges)
{
    std::string script = testing::TempDir() + "chronel_sim_disabled_" + std::to_string(::getpid());
    std::ofstream(script) << "0.3 2 1\n0.3 3 1\n";
    SimProcess sim;
    int port = sim.startTcp({"--events", "script:" + script});
    ASSERT_GT(port, 0);
    Modbus c = ConnectTcp(port);
    auto block = ReadRegs(c.get(), 365, 64);
    block[32 + 1] = 0xFFFF; // point 2 disabled
    ASSERT_TRUE(WriteRegs(c.get(), 365, block));
    ASSERT_TRUE(WaitFor([&] { return ReadRegs(c.get(), 200, 100)[51] == 0x0006; }));
    std::vector<int> points;
    for (auto& e : DrainEvents(c.get()))
        if (e.kind == 1)
            points.push_back(e.point);
    EXPECT_EQ(points, std::vector<int>{3});
    std::remove(script.c_str());
}

} // namespace
