// The simulator's core in-process: calendar and DST, event block layouts,
// state file, options, RTU framing, and a fuzz run of the request handler.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include "event_block.h"
#include "event_decoder.h"
#include "module_model.h"
#include "persistent_state.h"
#include "rtu_frame.h"
#include "sim_options.h"

using namespace chronel::sim;

namespace {

struct FakeClock {
    int64_t ms = 0;
};

// 2024-03-09 23:59:58 UTC, in ms since 1970.
constexpr int64_t kBaseUnixMs = 1710028798000;

TEST(SimCalendar, AgreesWithTheFourYearRuleUntil2099)
{
    simtest::Decoded d;
    for (int64_t s : {int64_t{0}, int64_t{31622400}, int64_t{59 * 86400}, int64_t{60 * 86400}, int64_t{1234567890},
             int64_t{2000000000}, int64_t{INT32_MAX}}) {
        CivilTime t = CivilFromSeconds(s);
        simtest::FromSeconds1984(s, d);
        EXPECT_EQ(std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second),
            std::make_tuple(d.year, d.month, d.day, d.hour, d.minute, d.second))
            << s;
        EXPECT_EQ(SecondsFromCivil(t), s);
    }
    EXPECT_EQ(CivilFromSeconds(31622400).year, 1985);
    EXPECT_EQ(CivilFromSeconds(-1).year, 1983);
}

struct DstCase {
    int location;
    CivilTime at;
    bool inForce;
};

class SimDst : public testing::TestWithParam<DstCase> { };

TEST_P(SimDst, Rule)
{
    DstRule r;
    r.location = GetParam().location;
    r.startMonth = 4;
    r.startDay = 1;
    r.startHour = 0;
    r.stopMonth = 9;
    r.stopDay = 30;
    r.stopHour = 12;
    EXPECT_EQ(DstInForce(r, SecondsFromCivil(GetParam().at)), GetParam().inForce);
}

INSTANTIATE_TEST_SUITE_P(Locations, SimDst,
    testing::Values(DstCase{0, {2024, 7, 1, 12, 0, 0}, false}, DstCase{5, {2024, 3, 10, 1, 59, 59}, false},
        DstCase{5, {2024, 3, 10, 2, 0, 0}, true}, DstCase{5, {2024, 11, 3, 1, 59, 59}, true},
        DstCase{5, {2024, 11, 3, 2, 0, 0}, false}, DstCase{3, {2024, 3, 31, 1, 0, 0}, true},
        DstCase{3, {2024, 3, 30, 23, 0, 0}, false}, DstCase{3, {2024, 10, 27, 1, 0, 0}, false},
        DstCase{4, {2024, 4, 7, 2, 0, 0}, true}, DstCase{1, {2024, 3, 31, 23, 0, 0}, false},
        DstCase{1, {2024, 4, 1, 0, 0, 0}, true}, DstCase{1, {2024, 9, 30, 12, 0, 0}, false}));

SerEvent Ev(uint8_t k, uint8_t point, bool state, CivilTime t, uint16_t ms = 0)
{
    SerEvent e;
    e.kind = k;
    e.point = point;
    e.state = state;
    e.seconds = SecondsFromCivil(t);
    e.millisecond = ms;
    e.source = RecordSource::IrigB;
    e.dst = true;
    return e;
}

TEST(SimEventBlock, Type0DateRecordsCarryTheDateAndResyncIsAPair)
{
    std::vector<SerEvent> in = {Ev(13, 0, false, {2031, 12, 17, 9, 0, 0}),
        Ev(1, 17, true, {2031, 12, 17, 9, 30, 45}, 999), Ev(12, 0, false, {2032, 2, 29, 23, 59, 58}, 7),
        Ev(1, 32, false, {2032, 2, 29, 23, 59, 59}, 1)};
    PointTexts texts;
    EncodedBlock b = EncodeEventBlock(0, in, 9, 4, texts);
    EXPECT_EQ(b.records, 5);
    EXPECT_EQ(b.eventsTaken, 4u);
    simtest::Decoded date;
    auto out = simtest::DecodeBlock(b.words.data(), date);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(std::make_tuple(out[1].kind, out[1].point, out[1].state, out[1].year, out[1].month, out[1].day,
                  out[1].hour, out[1].minute, out[1].second, out[1].ms, out[1].source, out[1].dst),
        std::make_tuple(1, 17, 1, 2031, 12, 17, 9, 30, 45, 999, 3, 1));
    EXPECT_EQ(std::make_tuple(out[2].kind, out[2].year, out[2].month, out[2].day, out[2].hour, out[2].minute,
                  out[2].second, out[2].ms),
        std::make_tuple(12, 2032, 2, 29, 23, 59, 58, 7));
    EXPECT_EQ(std::make_tuple(out[3].point, out[3].state, out[3].day), std::make_tuple(32, 0, 29));
}

TEST(SimEventBlock, ResyncPairIsNeverSplitAcrossBlocks)
{
    std::vector<SerEvent> in(29, Ev(1, 1, true, {2030, 1, 1, 0, 0, 0}));
    in.push_back(Ev(12, 0, false, {2030, 1, 1, 0, 0, 1}));
    EncodedBlock b = EncodeEventBlock(0, in, 1, 30, {});
    EXPECT_EQ(b.eventsTaken, 29u);
    EXPECT_EQ(b.records, 29);
}

class SimEventBlockTypes : public testing::TestWithParam<int> { };

TEST_P(SimEventBlockTypes, CapacityAndRoundTrip)
{
    int type = GetParam();
    std::vector<SerEvent> in;
    for (int i = 0; i < 40; ++i)
        in.push_back(
            Ev(1, static_cast<uint8_t>(i % 32 + 1), i % 2, {2029, 6, 15, 10, i, 7}, static_cast<uint16_t>(i * 20)));
    PointTexts texts;
    texts.description[0] = "Breaker 52A";
    texts.offText[0] = "Open";
    EncodedBlock b = EncodeEventBlock(type, in, 3, 40, texts);
    const size_t capacity[] = {30, 1, 22, 1};
    EXPECT_EQ(b.eventsTaken, capacity[type]);
    EXPECT_EQ(b.words[0], 3);
    EXPECT_EQ(b.words[1], type);
    EXPECT_EQ(b.words[5], 40);
    simtest::Decoded date{};
    date.year = 2029;
    date.month = 6;
    date.day = 15;
    auto out = simtest::DecodeBlock(b.words.data(), date);
    if (type == 3) {
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].text, "06/15/2029  10:00:07.000  D  B   Breaker 52A  Open");
        return;
    }
    ASSERT_EQ(out.size(), capacity[type]);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].point, static_cast<int>(i % 32 + 1));
        EXPECT_EQ(out[i].state, static_cast<int>(i % 2));
        EXPECT_EQ(out[i].minute, static_cast<int>(i));
        EXPECT_EQ(out[i].ms, static_cast<int>(i * 20));
        EXPECT_EQ(std::make_tuple(out[i].year, out[i].month, out[i].day), std::make_tuple(2029, 6, 15));
    }
}

INSTANTIATE_TEST_SUITE_P(BufferTypes, SimEventBlockTypes, testing::Values(0, 1, 2, 3));

TEST(SimEventBlock, LongType3TextKeepsATerminatingZero)
{
    PointTexts texts;
    texts.description[0] = std::string(300, 'x');
    EncodedBlock b = EncodeEventBlock(3, std::vector<SerEvent>{Ev(1, 1, true, {2030, 1, 1, 0, 0, 0})}, 1, 1, texts);
    EXPECT_EQ(GetByte(b.words, 199), 0);
    EXPECT_NE(GetByte(b.words, 198), 0);
}

TEST(SimState, RoundTripAndRejectsDamage)
{
    PersistentState s = FactoryState();
    s.config[4] = 77;
    s.points[1151] = 0xBEEF;
    s.flash[0x7FFFF] = 0x12;
    s.flash[0] = 0x00;
    PersistentState back;
    std::string error;
    std::string text = SerializeState(s);
    ASSERT_TRUE(ParseState(text, back, error)) << error;
    EXPECT_EQ(back, s);
    for (std::string damaged :
        {text.substr(0, text.size() / 2), std::string("garbage\n"), text.substr(0, text.find("\nend")) + "\n",
            std::string(text).replace(text.find("flash "), 6, "flash 80000 "),
            std::string(text).replace(text.find("module-id "), 14, "module-id XYZW")}) {
        EXPECT_FALSE(ParseState(damaged, back, error)) << damaged.substr(0, 40);
    }
}

TEST(SimState, SaveIsAtomicAndLoadable)
{
    std::string path = testing::TempDir() + "chronel_sim_state_unit_" + std::to_string(::getpid());
    PersistentState s = FactoryState();
    s.moduleId = 321;
    std::string error;
    ASSERT_TRUE(SaveStateFile(path, s, error)) << error;
    PersistentState back;
    bool missing = true;
    ASSERT_TRUE(LoadStateFile(path, back, missing, error)) << error;
    EXPECT_EQ(back.moduleId, 321);
    EXPECT_FALSE(SaveStateFile("/nonexistent-dir/x", s, error));
    EXPECT_FALSE(LoadStateFile(path + ".none", back, missing, error));
    EXPECT_TRUE(missing);
    std::remove(path.c_str());
}

// Another user who can write to the state's folder plants a link at the
// temporary name a save would take; the save must not write through it.
TEST(SimState, SaveTakesNoNameAnotherUserCouldForesee)
{
    const std::string dir = testing::TempDir() + "chronel_sim_state_link_" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string path = dir + "/module.state";
    const std::string victim = dir + "/victim";
    {
        std::ofstream(victim) << "precious";
    }
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp." + std::to_string(::getpid())).c_str()), 0);
    std::string error;
    ASSERT_TRUE(SaveStateFile(path, FactoryState(), error)) << error;
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
    std::filesystem::remove_all(dir);
}

TEST(SimOptionsParse, ValidCommandLine)
{
    SimOptions o;
    std::string error;
    ASSERT_TRUE(
        ParseOptions({"--tcp-port", "1502", "--rtu", "pty", "--exception", "101:6", "--exception", "5:2",
                         "--reset-every", "10", "--events", "random:2.5", "--buffer-type", "0", "--parity", "N"},
            o, error))
        << error;
    EXPECT_EQ(o.tcpPort, 1502);
    EXPECT_EQ(o.rtuPath, "pty");
    EXPECT_EQ(o.exceptions.size(), 2u);
    EXPECT_EQ(o.faults.resetEvery, 10u);
    EXPECT_DOUBLE_EQ(o.events.ratePerSecond, 2.5);
    EXPECT_EQ(o.bufferType, 0);
    EXPECT_EQ(o.parity, 'N');
}

TEST(SimOptionsParse, ScriptFormat)
{
    std::string error;
    auto plan = ParseScript("# header\n1.5 3 1\n0.5 32 0  # comment\n\nrepeat 2\n", error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->script.size(), 2u);
    EXPECT_EQ(plan->script[0].atMs, 500);
    EXPECT_EQ(plan->script[0].point, 32);
    EXPECT_TRUE(plan->repeat);
    for (const char* bad :
        {"1 33 1\n", "1 0 1\n", "1 3 2\n", "x 3 1\n", "1 3\n", "1 3 1 extra\n", "2 1 1\nrepeat 1\n", "-1 1 1\n"})
        EXPECT_FALSE(ParseScript(bad, error)) << bad;
}

TEST(SimGenerator, RepeatingScriptReplaysAndRandomIsBounded)
{
    std::string error;
    auto plan = ParseScript("0.1 1 1\n0.2 1 0\nrepeat 1\n", error);
    ASSERT_TRUE(plan);
    EventGenerator g(*plan, 1);
    g.start(0);
    EXPECT_EQ(g.advance(150, 0).size(), 1u);
    EXPECT_EQ(g.advance(2500, 0).size(), 5u); // 0.2, 1.1, 1.2, 2.1, 2.2
    EXPECT_LE(g.advance(1000LL * 86400 * 365, 0).size(), 10000u);
    GeneratorPlan random;
    random.mode = GeneratorPlan::Mode::Random;
    random.ratePerSecond = 1000;
    EventGenerator r(random, 3);
    r.start(0);
    EXPECT_LE(r.advance(1000LL * 3600 * 24, 0).size(), 10000u);
}

TEST(SimRtuFrame, RequestLengths)
{
    using V = std::vector<uint8_t>;
    EXPECT_EQ(RtuRequestLength(V{1, 3}), 8u);
    EXPECT_EQ(RtuRequestLength(V{1, 16, 0, 0, 0, 2}), std::nullopt);
    EXPECT_EQ(RtuRequestLength(V{1, 16, 0, 0, 0, 2, 4}), 13u);
    EXPECT_EQ(RtuRequestLength(V{1, 0x41}), 0u);
    EXPECT_EQ(RtuRequestLength(V{1}), std::nullopt);
    auto f = RtuFrame(1, V{3, 0, 0, 0, 10});
    EXPECT_EQ(f, (V{1, 3, 0, 0, 0, 10, 0xC5, 0xCD}));
    EXPECT_TRUE(RtuCrcValid(f));
    f[2] ^= 1;
    EXPECT_FALSE(RtuCrcValid(f));
}

class SimModel : public testing::Test {
protected:
    SimModel() : model_([this] { return clock_.ms; }, ModelOptions{}) { clock_.ms = kBaseUnixMs; }
    std::vector<uint8_t> req(std::vector<uint8_t> pdu) { return model_.handleRequest(pdu.data(), pdu.size()); }
    FakeClock clock_;
    ModuleModel model_;
};

TEST_F(SimModel, AcknowledgeDrainsOnlyThePresentedBlock)
{
    model_.start();
    ASSERT_EQ(model_.pendingEvents(), 3u);
    auto block = req({3, 0, 100, 0, 100});
    ASSERT_EQ(block.size(), 202u);
    // Test mode starts after the read: its event is not in the block just read.
    req({6, 0x06, 0x28, 0x55, 0xAA});
    ASSERT_EQ(model_.pendingEvents(), 4u);
    EXPECT_EQ(req({5, 0, 1, 0xFF, 0}), (std::vector<uint8_t>{5, 0, 1, 0xFF, 0}));
    ASSERT_EQ(model_.pendingEvents(), 1u);
    EXPECT_EQ(model_.events().front().kind, 24);
}

TEST_F(SimModel, HourlyDateRecordAndClockFollowTheHost)
{
    model_.start();
    req({5, 0, 1, 0xFF, 0}); // drain
    ASSERT_EQ(model_.pendingEvents(), 0u);
    clock_.ms += 3000; // past local midnight (GPS offset -5 h: 19:00 -> no new day)
    model_.tick();
    EXPECT_EQ(model_.pendingEvents(), 0u); // hourly update is off by default
    clock_.ms += 5 * 3600 * 1000;          // past local midnight: a new date
    model_.tick();
    ASSERT_EQ(model_.pendingEvents(), 1u);
    EXPECT_EQ(model_.events().front().kind, 13);
    auto st = req({3, 0, 199, 0, 24});
    ASSERT_EQ(st.size(), 50u);
    EXPECT_EQ(st[2 + 2 * 5 + 1], 10); // day 10 (local)
}

TEST_F(SimModel, FuzzedRequestsAreAnsweredSafely)
{
    model_.start();
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255), len(0, 260);
    const uint8_t functions[] = {1, 2, 3, 4, 5, 6, 15, 16, 0x41, 0x90};
    int exceptions = 0;
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> pdu(static_cast<size_t>(len(rng)));
        for (auto& b : pdu)
            b = static_cast<uint8_t>(byte(rng));
        if (!pdu.empty() && i % 2)
            pdu[0] = functions[static_cast<size_t>(i / 2 % 10)];
        auto r = model_.handleRequest(pdu.data(), pdu.size());
        if (pdu.empty()) {
            EXPECT_TRUE(r.empty());
            continue;
        }
        ASSERT_FALSE(r.empty());
        if (r[0] & 0x80 && (pdu[0] & 0x80) == 0) {
            ASSERT_EQ(r.size(), 2u);
            EXPECT_TRUE(r[1] >= 1 && r[1] <= 4);
            ++exceptions;
        } else {
            EXPECT_EQ(r[0], pdu[0]);
        }
    }
    EXPECT_GT(exceptions, 1000);
}

} // namespace
