// Program and Verify through real controls against chronel-sim: the request
// order the module receives, the status lines, the progress patterns, the
// scan polls, differences found by the read-back and failed requests.
#include "flash_fixture.h"

#include "core/flash/flash_progress.h"

#include <QRandomGenerator>

namespace chronel::test {
namespace {

using Outcome = FlashSequence::Outcome;
using Words = std::vector<std::uint16_t>;

QStringList EraseAndProgramLines()
{
    QStringList lines;
    for (int s = 0; s <= 8; ++s)
        lines << QStringLiteral("Erasing Flash Sector  %1").arg(s);
    lines << QStringLiteral("Flash Erase Complete") << QStringLiteral("Downloading Flash Data");
    return lines;
}

// Bytes 0 … size − 1 of an image, none of them erased flash or 0.
QByteArray Firmware(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& b : bytes)
        b = char(random.bounded(1, 0xFF)); // never 0: a cleared byte must differ
    return bytes;
}

Words BlockWords(const FlashImage& image, quint32 offset)
{
    Words words;
    for (int k = 0; k < FlashBlockWords; ++k)
        words.push_back(image.blockWord(offset, k));
    return words;
}

class FlashAgainstSimulator : public FlashFixture { };

TEST_F(FlashAgainstSimulator, OneByteAtTwoHundred)
{
    startModule();
    {
        // Leave something in three sectors for the erase to remove.
        FlashClient direct(sim_.port());
        ASSERT_TRUE(direct.connected());
        const std::vector<std::uint8_t> zeros(128, 0);
        for (std::uint32_t offset : {0u, 0x20000u, 0x79F80u})
            ASSERT_TRUE(direct.program(offset, zeros));
    }
    ASSERT_TRUE(load(writeFile(QStringLiteral("one.hex"), ":0100C8005ADD\r\n:00000001FF\r\n")));
    EXPECT_EQ(model_->status().caret(), 0);
    const int loadLines = int(statusLines().size());
    proxy_->clear();

    ASSERT_TRUE(model_->program());
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), 0);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), 0);
    ASSERT_EQ(runToEnd(), Outcome::VerifyOk) << model_->status().text().toStdString();
    EXPECT_EQ(model_->sequence().FlashEnd(), 200u);

    QStringList expected = EraseAndProgramLines();
    expected << QStringLiteral("Flash Memory Programming Complete") << QStringLiteral("Verifying Flash Memory ")
             << QStringLiteral("Flash Memory Verify OK ");
    EXPECT_EQ(statusLines().mid(loadLines), expected);
    EXPECT_EQ(model_->status().caret(), model_->status().text().size());
    EXPECT_EQ(model_->status().progress(), 0);

    const std::vector<SeenRequest> seen = flashRequests();
    ASSERT_EQ(seen.size(), 9u + 2u + 3u);
    for (int s = 0; s < 9; ++s) {
        EXPECT_EQ(seen[s].function, 16);
        EXPECT_EQ(seen[s].reg, 32767);
        EXPECT_EQ(seen[s].values, (Words{0x0000, 0x5555, 0xAAAA, 0xFFFF, std::uint16_t(s)})) << "sector " << s;
    }
    const int writes[] = {16385, 16389};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(seen[9 + i].function, 16);
        EXPECT_EQ(seen[9 + i].reg, writes[i]);
        EXPECT_EQ(seen[9 + i].values, BlockWords(model_->image(), quint32(128 * i)));
    }
    EXPECT_EQ(seen[10].values[36], 0xFF5A) << "byte 200 is the low half of word 36 of block 128";
    const int reads[] = {16385, 16389, 16393};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[11 + i].function, 3);
        EXPECT_EQ(seen[11 + i].reg, reads[i]);
        EXPECT_EQ(seen[11 + i].count, 64);
    }

    // 64 % after the first block, then clamped at 100 %.
    std::vector<Words> progress(8, Words{0, 0});
    progress.insert(progress.end(), {{0x03FF, 0}, {0xFFFF, 0}, {0xFFFF, 0x03FF}, {0xFFFF, 0xFFFF}, {0, 0}});
    EXPECT_EQ(progressWrites(), progress);

    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);

    FlashClient direct(sim_.port());
    const std::vector<std::uint8_t> flash = direct.read(0, FlashImageLast);
    ASSERT_EQ(flash.size(), FlashImageLast);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < flash.size(); ++i)
        wrong += flash[i] != (i == 200 ? 0x5A : 0xFF);
    EXPECT_EQ(wrong, 0u) << "the module's flash holds the image and nothing else";
}

TEST_F(FlashAgainstSimulator, HalfWayWritesTheHalfPattern)
{
    startModule();
    // FlashEnd 512: the blocks end at 25, 50, 75, 100 and 125 (shown as 100) %.
    QByteArray image(513, char(0xFF));
    image[0] = 1;
    image[512] = 2;
    ASSERT_TRUE(load(hexFromBinary(image)));
    std::vector<int> bar;
    QObject::connect(
        &model_->status(), &FlashStatus::progressChanged, owner_.get(), [&bar](int p) { bar.push_back(p); });
    proxy_->clear();
    ASSERT_TRUE(model_->program());
    ASSERT_EQ(runToEnd(), Outcome::VerifyOk);

    std::vector<Words> progress(8, Words{0, 0});
    progress.insert(progress.end(),
        {{0x000F, 0}, {0x00FF, 0}, {0x0FFF, 0}, {0xFFFF, 0}, {0xFFFF, 0}, {0xFFFF, 0x000F}, {0xFFFF, 0x00FF},
            {0xFFFF, 0x0FFF}, {0xFFFF, 0xFFFF}, {0, 0}});
    EXPECT_EQ(progressWrites(), progress);
    EXPECT_EQ(ProgressBarPattern(50), 0x00FF);
    EXPECT_EQ(bar, (std::vector<int>{25, 50, 75, 100, 0, 25, 50, 75, 100, 0}));
}

TEST_F(FlashAgainstSimulator, FullSizeImage)
{
    startModule();
    QByteArray binary = Firmware(int(FlashProgramLimit), 7);
    ASSERT_TRUE(load(hexFromBinary(binary))) << model_->status().text().toStdString();
    proxy_->clear();
    ASSERT_TRUE(model_->program());
    ASSERT_EQ(runToEnd(200000), Outcome::VerifyOk);
    EXPECT_EQ(model_->sequence().FlashEnd(), FlashProgramLimit - 1);

    const std::vector<SeenRequest> seen = flashRequests();
    const quint32 blocks = FlashProgramLimit / FlashBlockBytes; // 3904
    ASSERT_EQ(seen.size(), 9 + blocks + blocks + 1);
    for (quint32 b = 0; b < blocks; ++b) {
        const SeenRequest& w = seen[9 + b];
        ASSERT_TRUE(w.function == 16 && w.reg == FlashBlockRegister(b * 128) && w.count == 64) << "write " << b;
    }
    for (quint32 b = 0; b <= blocks; ++b) {
        const SeenRequest& r = seen[9 + blocks + b];
        ASSERT_TRUE(r.function == 3 && r.reg == FlashBlockRegister(b * 128)) << "read " << b;
    }

    FlashClient direct(sim_.port());
    const std::vector<std::uint8_t> flash = direct.read(0, FlashProgramLimit + 128);
    ASSERT_EQ(flash.size(), FlashProgramLimit + 128);
    EXPECT_TRUE(
        std::equal(binary.begin(), binary.end(), flash.begin(), [](char a, std::uint8_t b) { return quint8(a) == b; }));
    EXPECT_TRUE(std::all_of(flash.begin() + FlashProgramLimit, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

struct Difference {
    const char* name;
    std::vector<quint32> positions; // bytes cleared to 0 in the module
    int blocksRead;                 // reads of the verify, the differing block last
};

void PrintTo(const Difference& d, std::ostream* os) { *os << d.name; }

class VerifyDifference : public FlashFixture, public testing::WithParamInterface<Difference> { };

TEST_P(VerifyDifference, EndsAtTheDifferingBlock)
{
    startModule();
    const QByteArray binary = Firmware(1000, 11); // FlashEnd 999: reads at 0 … 896 and 1024
    ASSERT_TRUE(load(hexFromBinary(binary)));
    ASSERT_TRUE(model_->program());
    ASSERT_EQ(runToEnd(), Outcome::VerifyOk);

    {
        FlashClient direct(sim_.port());
        ASSERT_TRUE(direct.connected());
        for (quint32 position : GetParam().positions) {
            std::vector<std::uint8_t> block(128, 0xFF);
            block[position % 128] = 0;
            ASSERT_TRUE(direct.program(position - position % 128, block));
        }
    }
    proxy_->clear();
    const int before = int(statusLines().size());
    ASSERT_TRUE(model_->verify());
    ASSERT_EQ(runToEnd(), Outcome::VerifyError);

    QStringList expected{QStringLiteral("Verifying Flash Memory ")};
    for (std::size_t i = 0; i < GetParam().positions.size(); ++i)
        expected << QStringLiteral("Flash Verify Error ");
    EXPECT_EQ(statusLines().mid(before), expected);

    idle(100);
    const std::vector<SeenRequest> seen = flashRequests();
    ASSERT_EQ(int(seen.size()), GetParam().blocksRead) << "no read after the differing block";
    for (int b = 0; b < GetParam().blocksRead; ++b)
        EXPECT_EQ(seen[std::size_t(b)].reg, FlashBlockRegister(quint32(b) * 128));
    // Verify leaves the scan polls as they were: running since the Program.
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
    EXPECT_FALSE(model_->sequence().running());
}

INSTANTIATE_TEST_SUITE_P(Bytes, VerifyDifference,
    testing::Values(Difference{"OneByte", {400}, 4}, Difference{"ThreeInOneBlock", {130, 131, 255}, 2},
        Difference{"FirstBlock", {0}, 1},
        // The block past FlashEnd is read too; its bytes are erased flash.
        Difference{"BlockAfterTheEnd", {1024 + 5}, 9}),
    [](const testing::TestParamInfo<Difference>& info) { return std::string(info.param.name); });

TEST_F(FlashAgainstSimulator, DifferenceAfterProgramRestartsTheScanPolls)
{
    startModule();
    ASSERT_TRUE(load(hexFromBinary(Firmware(1000, 5))));
    // Byte 300 is cleared in the module between the last block written and
    // the first read-back.
    FlashClient direct(sim_.port());
    ASSERT_TRUE(direct.connected());
    bool cleared = false;
    QObject::connect(&model_->status(), &FlashStatus::lineAppended, owner_.get(), [&](const QString& line) {
        if (line != QStringLiteral("Flash Memory Programming Complete"))
            return;
        std::vector<std::uint8_t> block(128, 0xFF);
        block[300 % 128] = 0;
        cleared = direct.program(256, block);
    });
    ASSERT_TRUE(model_->program());
    EXPECT_EQ(pollInterval(ChannelId::EventScan), 0);
    ASSERT_EQ(runToEnd(), Outcome::VerifyError) << model_->status().text().toStdString();
    ASSERT_TRUE(cleared);

    EXPECT_EQ(statusLines().mid(statusLines().size() - 4),
        (QStringList{QStringLiteral("Flash Memory Programming Complete"), QStringLiteral("Verifying Flash Memory "),
            QStringLiteral("Flash Verify Error "), QStringLiteral("Event scan resumed")}));
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::Flash), 0);
}

TEST_F(FlashAgainstSimulator, DeviceExceptionMidWayEndsTheSequence)
{
    // Block 0 covers 16385 … 16448; every later block up to 16449 fails.
    startModule({QStringLiteral("--exception"), QStringLiteral("16449:4")});
    ASSERT_TRUE(load(hexFromBinary(Firmware(1000, 3))));
    proxy_->clear();
    ASSERT_TRUE(model_->program());
    ASSERT_EQ(runToEnd(), Outcome::CommunicationsError);

    QStringList expected = EraseAndProgramLines();
    expected << QStringLiteral("Flash Memory Communications Error ");
    EXPECT_EQ(statusLines().mid(statusLines().size() - expected.size()), expected);
    EXPECT_EQ(model_->sequence().programStep(), FlashSequence::ProgramStep::Writing);

    idle(100);
    const std::vector<SeenRequest> seen = flashRequests();
    ASSERT_EQ(seen.size(), 9u + 2u);
    EXPECT_EQ(seen[9].reg, 16385);
    EXPECT_EQ(seen[10].reg, 16389);
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::Flash), 0);
    EXPECT_TRUE(model_->loadEnabled());
}

TEST_F(FlashAgainstSimulator, LostReplyDuringVerify)
{
    // The load restarts the scan polls, whose first reads are the module's
    // requests 1 and 2; they are stopped again at once. Verify then sends
    // the progress reset (3), the read of block 0 (4), a progress write (5)
    // and the read of block 128 (6), whose reply is lost: the control gives
    // up after its TimeToLive.
    startModule({QStringLiteral("--drop-reply-every"), QStringLiteral("6")});
    ASSERT_TRUE(load(writeFile(QStringLiteral("one.hex"), ":0100C8005ADD\n")));
    StopScanPolls(*channels_);
    ASSERT_EQ(proxy_->requests().size(), 2u);
    proxy_->clear();
    ASSERT_TRUE(model_->verify());
    ASSERT_EQ(runToEnd(), Outcome::CommunicationsError);
    EXPECT_EQ(statusLines().mid(statusLines().size() - 2),
        (QStringList{QStringLiteral("Verifying Flash Memory "), QStringLiteral("Flash Memory Communications Error ")}));
    const std::vector<SeenRequest> seen = flashRequests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].reg, 16389);
    EXPECT_EQ(pollInterval(ChannelId::TimeSetup), TimeSetupPollInterval);
    EXPECT_EQ(pollInterval(ChannelId::EventScan), EventScanPollInterval);
}

struct Refusal {
    const char* name;
    const char* hex;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class NothingToProgram : public FlashFixture, public testing::WithParamInterface<Refusal> { };

TEST_P(NothingToProgram, ProgramAndVerifyRefuseAndSendNothing)
{
    startModule();
    ASSERT_TRUE(load(writeFile(QStringLiteral("r.hex"), GetParam().hex)));
    proxy_->clear();
    const int before = int(statusLines().size());
    EXPECT_FALSE(model_->program());
    EXPECT_FALSE(model_->verify());
    EXPECT_EQ(statusLines().mid(before),
        (QStringList{QStringLiteral("No flash data to program"), QStringLiteral("No flash data to verify")}));
    idle(50);
    EXPECT_TRUE(proxy_->requests().empty());
    EXPECT_FALSE(model_->sequence().running());
}

INSTANTIATE_TEST_SUITE_P(Images, NothingToProgram,
    testing::Values(Refusal{"NoDataRecords", ":00000001FF\n"},
        // 0x7A001 = segment 0x7A00 + 1
        Refusal{"OnlyAboveTheLimit", ":020000027A0082\n:010001001CE2\n"},
        Refusal{"OnlyPositionZero", ":0100000011EE\n"}, Refusal{"OnlyErasedValues", ":02001000FFFFF0\n"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

} // namespace
} // namespace chronel::test
