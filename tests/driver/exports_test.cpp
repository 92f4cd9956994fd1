// libPLCDRV.so as its users see it: four C entry points found by name, a
// driver that starts once per load, and an unload that stops everything.
// The library is loaded and unloaded by each test itself, so that every test
// gets a fresh driver and the unload is the real one.
#include "driver_harness.h"
#include "pty_peer.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

using namespace drivertest;
using std::chrono::milliseconds;

namespace {

constexpr int kUnit = 1;
constexpr auto kWait = milliseconds(5000);

class LoadedDriver {
public:
    LoadedDriver()
    {
        handle_ = ::dlopen(PLCDRV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr)
            return;
        start = reinterpret_cast<void (*)()>(::dlsym(handle_, "VexaStart"));
        stop = reinterpret_cast<void (*)()>(::dlsym(handle_, "VexaStop"));
        put = reinterpret_cast<int (*)(void*, int)>(::dlsym(handle_, "VexaPut"));
        get = reinterpret_cast<int (*)(void*, void*, int)>(::dlsym(handle_, "VexaGet"));
    }
    ~LoadedDriver() { unload(); }
    LoadedDriver(const LoadedDriver&) = delete;
    LoadedDriver& operator=(const LoadedDriver&) = delete;

    bool ok() const { return handle_ && start && stop && put && get; }
    void unload()
    {
        if (handle_)
            ::dlclose(handle_);
        handle_ = nullptr;
    }
    static bool inProcess()
    {
        void* handle = ::dlopen(PLCDRV_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr)
            return false;
        ::dlclose(handle);
        return true;
    }

    void (*start)() = nullptr;
    void (*stop)() = nullptr;
    int (*put)(void*, int) = nullptr;
    int (*get)(void*, void*, int) = nullptr;

private:
    void* handle_ = nullptr;
};

class ExportsTest : public testing::Test {
protected:
    void SetUp() override { ::setenv("PLCDRV_INI", ini_.pathString().c_str(), 1); }
    void TearDown() override { ::unsetenv("PLCDRV_INI"); }

    int readAndWait(LoadedDriver& driver, TestControl& control, int adapter)
    {
        control.readHolding(adapter, kUnit, 3, 2);
        const std::size_t before = control.completions().size();
        if (driver.put(&control.packet(), 280) != 1)
            return -1000;
        if (!control.waitForCompletions(before + 1, kWait))
            return -2000;
        return control.completions().back().status;
    }

    IniFile ini_;
};

TEST_F(ExportsTest, EntryPointsHaveCLinkageAndRefuseEverythingBeforeStart)
{
    ini_.write(IniFile::general(0));
    LoadedDriver driver;
    ASSERT_TRUE(driver.ok()) << ::dlerror();
    TestControl control;
    control.readHolding(1, kUnit, 0, 1);
    EXPECT_EQ(driver.put(&control.packet(), 280), 0);

    // No completion hands out packet copies, so nothing is one to release.
    std::uint8_t destination[280];
    std::memset(destination, 0x5A, sizeof destination);
    const plcdrv::RequestPacket before = control.packet();
    EXPECT_EQ(driver.get(destination, &control.packet(), 280), 0);
    EXPECT_EQ(driver.get(destination, nullptr, 280), 0);
    EXPECT_EQ(destination[0], 0x5A);
    EXPECT_EQ(std::memcmp(&before, &control.packet(), sizeof before), 0);
}

TEST_F(ExportsTest, ServesItsAdaptersAndVexaStopChangesNothing)
{
    PtyBridge bridge;
    ASSERT_TRUE(bridge.ok());
    LibmodbusRtuSlave slave(bridge.peerPath(), kUnit);
    ASSERT_TRUE(slave.ok());
    ini_.write(IniFile::general(0) + IniFile::ports({{1, bridge.driverPath()}}) + IniFile::serial(1, 1));

    LoadedDriver driver;
    ASSERT_TRUE(driver.ok());
    driver.start();
    TestControl control;
    ASSERT_EQ(readAndWait(driver, control, 1), 0);
    EXPECT_EQ(control.replyWord(1), LibmodbusRtuSlave::registerValue(4));

    driver.stop();
    ASSERT_EQ(readAndWait(driver, control, 1), 0);
    EXPECT_EQ(slave.requests(), 2);
}

TEST_F(ExportsTest, SecondStartDoesNotReadTheFileAgain)
{
    PtyBridge first, second;
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    LibmodbusRtuSlave slave(second.peerPath(), kUnit);
    ASSERT_TRUE(slave.ok());
    const std::string ports = IniFile::ports({{1, first.driverPath()}, {2, second.driverPath()}});
    ini_.write(IniFile::general(0) + ports + IniFile::serial(1, 1));

    LoadedDriver driver;
    ASSERT_TRUE(driver.ok());
    driver.start();
    ini_.write(IniFile::general(0) + ports + IniFile::serial(1, 1) + IniFile::serial(2, 2));
    driver.start();

    TestControl control;
    control.readHolding(2, kUnit, 0, 1);
    EXPECT_EQ(driver.put(&control.packet(), 280), 0);
    EXPECT_EQ(slave.requests(), 0);
}

TEST_F(ExportsTest, UnloadStopsAtOnceReleasesQueuedRequestsAndTheNextLoadStartsAfresh)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ScriptedRtuSlave silent(pty.master(), [](const Bytes&, int) { return std::vector<ScriptedRtuSlave::Step>{}; });
    ini_.write(IniFile::general(0) + IniFile::ports({{1, pty.slavePath()}}) + IniFile::serial(1, 1, 0, 5000));

    std::vector<std::unique_ptr<TestControl>> controls;
    {
        LoadedDriver driver;
        ASSERT_TRUE(driver.ok());
        driver.start();
        for (int i = 0; i < 3; ++i) {
            controls.push_back(std::make_unique<TestControl>(i));
            controls.back()->readHolding(1, kUnit, i, 1);
            controls.back()->packet().status = 0x7777;
            ASSERT_EQ(driver.put(&controls.back()->packet(), 280), 1);
        }
        ASSERT_TRUE(RunUntil([&] { return silent.requests() == 1; }, kWait));
        ASSERT_EQ(pty.othersOpenHere(), 1);

        const auto start = Clock::now();
        driver.unload();
        EXPECT_LT(Clock::now() - start, milliseconds(1000));
        EXPECT_FALSE(LoadedDriver::inProcess());
    }
    RunFor(milliseconds(100));
    for (const auto& control : controls) {
        EXPECT_TRUE(control->completions().empty());
        EXPECT_EQ(control->packet().status, 0x7777);
    }
    EXPECT_EQ(pty.othersOpenHere(), 0) << "the unload left the port open";

    LoadedDriver again;
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.put(&controls[0]->packet(), 280), 0);
    again.start();
    EXPECT_EQ(again.put(&controls[0]->packet(), 280), 1);
}

} // namespace
