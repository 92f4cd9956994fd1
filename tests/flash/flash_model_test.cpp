// Load File on the Flash tab's model with real controls: the scan polls
// around a load, the buttons, a cancelled dialog and a file that cannot be
// opened.
#include "flash_fixture.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace chronel::test {
namespace {

// Ends the test program when what it guards does not come back in time: a
// load that reads a device without line ends to the end never would, and no
// event of the test's own could stop it.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "still running after %lld s\n", static_cast<long long>(limit.count()));
                  std::_Exit(1);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_;
};

class FlashLoadFile : public FlashFixture {
protected:
    void SetUp() override
    {
        FlashFixture::SetUp();
        startModule();
    }
};

TEST_F(FlashLoadFile, PollsStopDuringTheLoadAndRestartAfterIt)
{
    const QString path = writeFile(QStringLiteral("fw.hex"), ":0400100001020304E2\n:00000001FF\n");
    int lines = 0;
    bool pollsStopped = true;
    bool buttonsOff = true;
    const bool ok = model_->loadFile([&path] { return path; },
        [&] {
            ++lines;
            pollsStopped &= pollInterval(ChannelId::TimeSetup) == 0 && pollInterval(ChannelId::EventScan) == 0;
            buttonsOff &= !model_->loadEnabled() && !model_->programEnabled();
        });
    EXPECT_TRUE(ok);
    EXPECT_GE(lines, 2);
    EXPECT_TRUE(pollsStopped);
    EXPECT_TRUE(buttonsOff) << "no second load and no Program while a load runs";
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
    EXPECT_TRUE(model_->programEnabled());
    EXPECT_TRUE(model_->verifyEnabled());
    EXPECT_TRUE(model_->loadEnabled());
    EXPECT_EQ(statusLines(),
        (QStringList{QStringLiteral("Initalizing flash image"), QStringLiteral("Opening ") + path,
            QStringLiteral("Reading flash data"), QStringLiteral("Loaded  4 bytes -  No errors"),
            QStringLiteral("Closing flash data file")}));
}

TEST_F(FlashLoadFile, FailedLoadDisablesProgramAndVerify)
{
    ASSERT_TRUE(load(writeFile(QStringLiteral("good.hex"), ":0400100001020304E2\n")));
    ASSERT_TRUE(model_->programEnabled());
    EXPECT_FALSE(load(writeFile(QStringLiteral("bad.hex"), ":0400100001020304E3\n:0100000011EE\n")));
    EXPECT_FALSE(model_->programEnabled());
    EXPECT_FALSE(model_->verifyEnabled());
    EXPECT_EQ(model_->image().at(0), 0x11) << "the good line of the failed load is in the image";
    proxy_->clear();
    EXPECT_FALSE(model_->program());
    EXPECT_FALSE(model_->verify());
    idle(20);
    EXPECT_TRUE(proxy_->requests().empty());
}

TEST_F(FlashLoadFile, ADeviceWithoutLineEndsFailsPromptlyAndThePollsResume)
{
    const QString device = QStringLiteral("/dev/zero");
    if (!QFile::exists(device))
        GTEST_SKIP() << "no /dev/zero";
    ASSERT_TRUE(load(writeFile(QStringLiteral("good.hex"), ":0400100001020304E2\n")));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(0);
    bool ok = true;
    {
        Watchdog watchdog(std::chrono::seconds(20));
        ok = model_->loadFile([&device] { return device; }, [] { QCoreApplication::processEvents(); });
    }
    timer.stop();
    EXPECT_FALSE(ok);
    EXPECT_GT(ticks, 0) << "the window's timers ran during the load";
    EXPECT_EQ(statusLines(),
        (QStringList{QStringLiteral("Initalizing flash image"), QStringLiteral("Opening ") + device,
            QStringLiteral("Reading flash data"), QStringLiteral("Invalid starting character - Line  1"),
            QStringLiteral("Flash file load error"), QStringLiteral("Closing flash data file")}));
    EXPECT_FALSE(model_->programEnabled());
    EXPECT_FALSE(model_->verifyEnabled());
    EXPECT_TRUE(model_->loadEnabled());
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
}

struct NoFile {
    const char* name;
    bool cancel; // otherwise a path that cannot be opened
};

void PrintTo(const NoFile& f, std::ostream* os) { *os << f.name; }

class LoadWithoutAFile : public FlashLoadFile, public testing::WithParamInterface<NoFile> { };

TEST_P(LoadWithoutAFile, ImageAndButtonsUntouchedAndPollsRestarted)
{
    ASSERT_TRUE(load(writeFile(QStringLiteral("good.hex"), ":0400100001020304E2\n")));
    StopScanPolls(*channels_);
    const QStringList before = statusLines();
    const QString missing = dir_.filePath(QStringLiteral("no such file.hex"));

    EXPECT_FALSE(model_->loadFile([&] { return GetParam().cancel ? QString() : missing; }));

    EXPECT_EQ(statusLines().mid(0, before.size()), before);
    EXPECT_EQ(statusLines().mid(before.size()),
        QStringList{GetParam().cancel ? QStringLiteral("Flash file load cancelled")
                                      : QStringLiteral("Unable to open ") + missing});
    EXPECT_EQ(model_->image().at(0x10), 1);
    EXPECT_EQ(model_->image().at(0x13), 4);
    EXPECT_TRUE(model_->programEnabled());
    EXPECT_TRUE(model_->loadEnabled());
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadWithoutAFile,
    testing::Values(NoFile{"DialogCancelled", true}, NoFile{"CannotOpen", false}),
    [](const testing::TestParamInfo<NoFile>& info) { return std::string(info.param.name); });

TEST_F(FlashLoadFile, NoLoadWhileASequenceRuns)
{
    const QString path = writeFile(QStringLiteral("fw.hex"), ":0100C8005ADD\n");
    ASSERT_TRUE(load(path));
    ASSERT_TRUE(model_->program());
    ASSERT_TRUE(model_->sequence().running());
    EXPECT_FALSE(model_->loadEnabled());
    bool asked = false;
    EXPECT_FALSE(model_->loadFile([&] {
        asked = true;
        return path;
    }));
    EXPECT_FALSE(asked) << "the dialog is not even shown";
    EXPECT_EQ(model_->image().at(200), 0x5A);
    ASSERT_EQ(runToEnd(), FlashSequence::Outcome::VerifyOk);
    EXPECT_TRUE(model_->loadEnabled());
}

} // namespace
} // namespace chronel::test
