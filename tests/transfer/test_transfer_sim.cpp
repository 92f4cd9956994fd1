// Upload and download against the simulated module chronel-sim, started for
// each test on a loopback port of its own: the exact requests, the screen
// filled from the module and the module holding the screen, the error
// counter with the simulator's fault options, the silent stops, and one
// sequence taking over from the other.
#include "transfer_rig.h"

#include "core/fields/number_rule.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

using namespace chronel;
using namespace chronel::test;

namespace {

constexpr int ConfigWords = 100;
constexpr int PointAreaWords = 1152; // registers 301 … 1452

// A module configuration unlike the simulator's factory one, as words.
std::vector<quint16> ModuleConfigWords()
{
    std::vector<quint16> w(ConfigWords, 0);
    w[0] = 1;           // sync master
    w[1] = quint16(-6); // GPS offset
    w[2] = 2;           // IRIG-B offset
    w[3] = 1;           // event buffer type
    w[4] = 37;          // event delay, tens of ms
    w[5] = 3;           // DST location
    w[6] = 3, w[7] = 14, w[8] = 2;
    w[9] = 11, w[10] = 7, w[11] = 2;
    w[12] = 1;                        // hourly time update
    w[13] = 4, w[14] = 2, w[15] = 7;  // RS-232 4800, Odd, delay 7
    w[16] = 9, w[17] = 0, w[18] = 12; // RS-485 115.5K, None, delay 12
    w[25] = 2;                        // DHCP
    const quint16 ip[] = {127, 0, 0, 1}, mask[] = {255, 255, 255, 0}, gw[] = {127, 0, 0, 254};
    for (int i = 0; i < 4; ++i) {
        w[std::size_t(26 + i)] = ip[i];
        w[std::size_t(30 + i)] = mask[i];
        w[std::size_t(34 + i)] = gw[i];
    }
    const std::vector<quint16> name = TextWords("North Yard 7", 8);
    std::copy(name.begin(), name.end(), w.begin() + 38);
    w[46] = 1; // 10 Mbps
    w[50] = 1; // IEEE 1344
    w[51] = 1; // half duplex
    w[52] = 1; // RS-232 ASCII
    w[53] = 0; // RS-485 RTU
    w[54] = 1; // lock
    return w;
}

// What the screen shows for ModuleConfigWords() on the simulator, whose
// MAC, firmware version and Modbus address are its factory ones.
ModuleSettings ExpectedScreen()
{
    ModuleSettings s;
    s.ConfigLock = Check::Checked;
    s.ConfigPlcId = QStringLiteral(" 4242");
    s.ConfigModbusAddress = QStringLiteral(" 1");
    s.ConfigVersion = QStringLiteral("1.60");
    s.ConfigModuleName = QStringLiteral("North Yard 7");
    s.ConfigEventDelay = QStringLiteral(" 370");
    s.ConfigSyncMaster = Check::Checked;
    s.ConfigHourTimeUpdate = Check::Checked;
    s.ConfigEventBufferType = 1;
    s.ConfigTcpipIp = {QStringLiteral(" 127"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 1")};
    s.ConfigTcpipSubnet = {
        QStringLiteral(" 255"), QStringLiteral(" 255"), QStringLiteral(" 255"), QStringLiteral(" 0")};
    s.ConfigTcpipGateway = {QStringLiteral(" 127"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 254")};
    s.ConfigTcpipMac = QStringLiteral("00 : 0A : 1B : 53 : 45 : 52");
    s.ConfigTcpipMode = TcpipMode::Dhcp;
    s.ConfigTcpipSpeed = TcpipSpeed::Mbps10;
    s.ConfigTcpipEthernetComm = EthernetComm::Half;
    s.ConfigTcpipEthernetCommEnabled = true;
    s.ConfigModbus232Baud = 4;
    s.ConfigModbus232Parity = 2;
    s.ConfigModbus232Delay = QStringLiteral(" 7");
    s.ConfigModbus232Protocol = 1;
    s.ConfigModbus485Baud = 9;
    s.ConfigModbus485Parity = 0;
    s.ConfigModbus485Delay = QStringLiteral(" 12");
    s.ConfigModbus485Protocol = 0;
    s.TsIeee1344 = Check::Checked;
    s.TsToGpsOffset = QStringLiteral("-6");
    s.TsToIrigOffset = QStringLiteral(" 2");
    s.TsDstLocation = 3;
    s.TsDstStartMonth = QStringLiteral(" 3");
    s.TsDstStartDay = QStringLiteral(" 14");
    s.TsDstStartHour = QStringLiteral(" 2");
    s.TsDstStopMonth = QStringLiteral(" 11");
    s.TsDstStopDay = QStringLiteral(" 7");
    s.TsDstStopHour = QStringLiteral(" 2");
    return s;
}

struct ModulePoint {
    quint16 filter, debounce, disabledWord;
    qint16 chatter;
    std::string description, off, on;
};

ModulePoint PointOnModule(int p)
{
    ModulePoint m;
    m.filter = p == 5 ? 40000 : quint16(1000 + p);
    m.debounce = p == 6 ? 65535 : quint16(30 + p);
    m.chatter = qint16(p - 16);
    m.disabledWord = p % 3 == 0 ? 0xFFFF : (p == 4 ? 1 : 0);
    m.description = "Feeder " + std::to_string(p + 1) + " breaker";
    if (p == 31)
        m.description = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"; // all 32 characters
    if (p == 7)
        m.description = "Pump      "; // blank-padded by the module
    m.off = p == 0 ? "0123456789abcdef" : "Open" + std::to_string(p);
    m.on = "Closed" + std::to_string(p);
    return m;
}

std::vector<quint16> ModulePointWords()
{
    std::vector<quint16> w(PointAreaWords, 0);
    for (int p = 0; p < 32; ++p) {
        const ModulePoint m = PointOnModule(p);
        w[std::size_t(p)] = m.filter;
        w[std::size_t(32 + p)] = m.debounce;
        w[std::size_t(64 + p)] = quint16(m.chatter);
        w[std::size_t(96 + p)] = m.disabledWord;
        const auto put = [&](std::size_t at, const std::string& text, int words) {
            const std::vector<quint16> t = TextWords(text, words);
            std::copy(t.begin(), t.end(), w.begin() + long(at));
        };
        put(128 + 16 * std::size_t(p), m.description, 16);
        put(640 + 8 * std::size_t(p), m.off, 8);
        put(896 + 8 * std::size_t(p), m.on, 8);
    }
    return w;
}

PointSettings ExpectedPoint(int p)
{
    const ModulePoint m = PointOnModule(p);
    PointSettings s;
    s.SsPcFilter = m.filter;
    s.SsPcDebounce = m.debounce;
    s.SsPcChatter = m.chatter;
    SetDisabledFromWord(s, qint16(m.disabledWord));
    s.SsPcDescription = QString::fromStdString(m.description).trimmed();
    s.SsPcOff = QString::fromStdString(m.off);
    s.SsPcOn = QString::fromStdString(m.on);
    return s;
}

// Settings a user might have on screen before a download: numbers in the
// form the screen shows them, every option chosen, the module on loopback.
void FillScreen(ModuleSettings& s)
{
    s.ConfigLock = Check::Checked;
    s.ConfigPlcId = QStringLiteral(" 777");
    s.ConfigModuleName = QStringLiteral("Substation East");
    s.ConfigEventDelay = QStringLiteral(" 250");
    s.ConfigSyncMaster = Check::Checked;
    s.ConfigHourTimeUpdate = Check::Unchecked;
    s.ConfigEventBufferType = 0;
    s.ConfigTcpipIp = {QStringLiteral(" 127"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 1")};
    s.ConfigTcpipSubnet = {QStringLiteral(" 255"), QStringLiteral(" 255"), QStringLiteral(" 0"), QStringLiteral(" 0")};
    s.ConfigTcpipGateway = {QStringLiteral(" 127"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 9")};
    s.ConfigTcpipMode = TcpipMode::BootP;
    s.chooseTcpipSpeed(TcpipSpeed::Mbps100);
    s.ConfigTcpipEthernetComm = EthernetComm::Half;
    s.ConfigModbus232Baud = 6;
    s.ConfigModbus232Parity = 0;
    s.ConfigModbus232Delay = QStringLiteral(" 3");
    s.ConfigModbus232Protocol = 1;
    s.ConfigModbus485Baud = 9;
    s.ConfigModbus485Parity = 2;
    s.ConfigModbus485Delay = QStringLiteral(" 250");
    s.ConfigModbus485Protocol = 0;
    s.TsIeee1344 = Check::Checked;
    s.TsToGpsOffset = QStringLiteral("-7");
    s.TsToIrigOffset = QStringLiteral(" 3");
    s.TsDstLocation = 5;
    s.TsDstStartMonth = QStringLiteral(" 3");
    s.TsDstStartDay = QStringLiteral(" 8");
    s.TsDstStartHour = QStringLiteral(" 2");
    s.TsDstStopMonth = QStringLiteral(" 11");
    s.TsDstStopDay = QStringLiteral(" 1");
    s.TsDstStopHour = QStringLiteral(" 3");
}

void FillPoints(PointTable& t)
{
    for (int p = 0; p < 32; ++p) {
        PointSettings& pt = t[std::size_t(p)];
        pt.SsPcFilter = quint16(p == 9 ? 40000 : 100 + p);
        pt.SsPcDebounce = quint16(p == 10 ? 65535 : 5 * p);
        pt.SsPcChatter = qint16(p % 2 ? -p : p);
        pt.SsPcDisabled = p % 4 == 1;
        pt.SsPcDescription = QStringLiteral("Input %1, bay %2").arg(p + 1).arg(p / 8);
        pt.SsPcOff = QStringLiteral("Normal");
        pt.SsPcOn = QStringLiteral("Alarm %1").arg(p);
    }
}

class TransferSim : public ::testing::Test {
protected:
    // Starts the simulator and loads it with the configuration above.
    void startLoaded(std::vector<std::string> args = {}, bool startUp = true)
    {
        ASSERT_TRUE(rig.start(std::move(args), startUp));
        ModuleRegisters regs(rig.port);
        ASSERT_TRUE(regs.connected());
        ASSERT_TRUE(regs.write(1, ModuleConfigWords()));
        ASSERT_TRUE(regs.write(101, {4242}));
        ASSERT_TRUE(regs.write(301, ModulePointWords()));
        baseline = rig.requests().size();
    }
    // The configuration requests made since startLoaded().
    std::vector<LoggedRequest> transferRequests()
    {
        const std::vector<LoggedRequest> all = rig.requests();
        return TransferRequests({all.begin() + long(std::min(baseline, all.size())), all.end()});
    }

    TransferRig rig;
    std::size_t baseline = 0;
};

TEST_F(TransferSim, UploadReadsEveryBlockInOrderAndFillsTheScreenAndTheTable)
{
    startLoaded();
    rig.model->showPointPage(8);
    ASSERT_EQ(PollInterval(rig.eventScan()), EventScanStartInterval);

    rig.transfer->startUpload();
    // The upload owns the module: the scans and the download channel are quiet.
    EXPECT_EQ(PollInterval(rig.eventScan()), 0);
    EXPECT_EQ(PollInterval(rig.timeSetup()), 0);
    EXPECT_EQ(PollInterval(rig.write()), 0);
    EXPECT_TRUE(rig.model->transfer().visible);
    EXPECT_EQ(rig.model->transfer().label, QStringLiteral("Uploading"));

    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    EXPECT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Finished);
    EXPECT_EQ(transferRequests(), UploadReads());

    ModuleSettings expected = ExpectedScreen();
    EXPECT_TRUE(rig.model->settings() == expected);
    for (const TextFieldBinding& f : TextFields())
        EXPECT_EQ(rig.model->settings().*f.member, expected.*f.member) << f.control;
    for (int p = 0; p < 32; ++p)
        EXPECT_TRUE(rig.model->points()[std::size_t(p)] == ExpectedPoint(p)) << "point " << p + 1;
    // The page at top 8 shows points 9 … 16 as uploaded.
    EXPECT_EQ(rig.model->page().row(0).SsPcPointNum, QStringLiteral(" 9"));
    EXPECT_EQ(rig.model->page().row(0).SsPcFilter, QStringLiteral(" 1008"));
    EXPECT_EQ(rig.model->page().row(0).SsPcDescription, QStringLiteral("Feeder 9 breaker"));
    EXPECT_EQ(rig.model->page().row(0).SsPcEnable, Check::Checked);   // point 9 enabled
    EXPECT_EQ(rig.model->page().row(1).SsPcEnable, Check::Unchecked); // point 10 disabled (0xFFFF)

    EXPECT_FALSE(rig.model->transfer().visible);
    EXPECT_EQ(rig.read().Host(), StopHost());
    EXPECT_EQ(PollInterval(rig.read()), 0);
    EXPECT_EQ(PollInterval(rig.eventScan()), EventScanPollInterval);
    EXPECT_EQ(PollInterval(rig.timeSetup()), 0);
    EXPECT_EQ(rig.transfer->upload().TransferErrorCount(), 0);
    EXPECT_TRUE(rig.messages.empty());
}

TEST_F(TransferSim, DownloadWritesTheStartCodeAndTwentyBlocksAndTheModuleHoldsTheScreen)
{
    startLoaded();
    FillScreen(rig.model->settings());
    rig.model->settings().ConfigEventDelay = QStringLiteral("505"); // sent as 50 (halves to even)
    rig.model->settings().ConfigTcpipSubnet[3] = QStringLiteral("300");
    rig.model->settings().ConfigTcpipGateway[1] = QStringLiteral("-4");
    rig.model->settings().ConfigModuleName = QStringLiteral("  Substation 12 East  ");
    rig.model->settings().ConfigModbus232Protocol = -1;
    rig.model->settings().TsIeee1344 = Check::Grey;
    FillPoints(rig.model->points());
    // Row 2 edited on screen and not yet stored: the download takes it.
    rig.model->loadPointPage();
    rig.model->page().row(2).SsPcFilter = QStringLiteral("40000");
    rig.model->page().row(2).SsPcEnable = Check::Unchecked;
    rig.model->page().row(2).SsPcDescription = QStringLiteral("Row edit");

    rig.transfer->startDownload();
    EXPECT_EQ(PollInterval(rig.eventScan()), 0);
    EXPECT_EQ(PollInterval(rig.timeSetup()), 0);
    EXPECT_EQ(PollInterval(rig.read()), 0);
    EXPECT_EQ(rig.model->transfer().label, QStringLiteral("Downloading"));
    ASSERT_TRUE(rig.waitEnd(rig.transfer->download()));
    EXPECT_EQ(rig.transfer->download().outcome(), TransferOutcome::Finished);

    const std::vector<LoggedRequest> writes = transferRequests();
    ASSERT_EQ(writes, DownloadWrites());
    EXPECT_EQ(writes[0].data, (std::vector<int>{0x55, 0xAA}));

    ModuleRegisters regs(rig.port);
    ASSERT_TRUE(regs.connected());
    const std::vector<quint16> c = regs.read(1, 60);
    ASSERT_EQ(c.size(), 60u);
    const std::pair<int, quint16> words[] = {
        {0, 1},
        {1, quint16(-7)},
        {2, 3},
        {3, 0},
        {4, 50},
        {5, 5},
        {6, 3},
        {7, 8},
        {8, 2},
        {9, 11},
        {10, 1},
        {11, 3},
        {12, 0},
        {13, 6},
        {14, 0},
        {15, 3},
        {16, 9},
        {17, 2},
        {18, 250},
        {25, 1},
        {26, 127},
        {27, 0},
        {28, 0},
        {29, 1},
        {30, 255},
        {31, 255},
        {32, 0},
        {33, 255},
        {34, 127},
        {35, 0},
        {36, 0},
        {37, 9},
        {46, 3},
        {50, 0},
        {51, 1},
        {52, 0xFFFF},
        {53, 0},
        {54, 1},
        // Words the module keeps for itself: MAC, firmware version, address.
        {19, 0x00},
        {20, 0x0A},
        {24, 0x52},
        {48, 160},
        {49, 1},
    };
    for (const auto& [word, value] : words)
        EXPECT_EQ(c[std::size_t(word)], value) << "register " << word + 1;
    EXPECT_EQ(WordsText(c, 38, 8), "Substation 12 Ea");
    EXPECT_EQ(regs.read(101, 1), std::vector<quint16>{777});

    const std::vector<quint16> pts = regs.read(301, PointAreaWords);
    ASSERT_EQ(pts.size(), std::size_t(PointAreaWords));
    EXPECT_EQ(pts[2], 40000);       // the row edit, as the word 0x9C40
    EXPECT_EQ(pts[96 + 2], 0xFFFF); // its box unchecked
    EXPECT_EQ(WordsText(pts, 128 + 16 * 2, 16), "Row edit");
    EXPECT_EQ(pts[9], 40000);
    EXPECT_EQ(pts[32 + 10], 65535);
    for (int p = 0; p < 32; ++p) {
        const PointSettings& pt = rig.model->points()[std::size_t(p)];
        if (p != 2) {
            EXPECT_EQ(pts[std::size_t(p)], pt.SsPcFilter) << p;
            EXPECT_EQ(pts[std::size_t(96 + p)], pt.SsPcDisabled ? 0xFFFF : 0) << p;
            EXPECT_EQ(WordsText(pts, 128 + 16 * std::size_t(p), 16), pt.SsPcDescription.toStdString()) << p;
        }
        EXPECT_EQ(pts[std::size_t(32 + p)], pt.SsPcDebounce) << p;
        EXPECT_EQ(qint16(pts[std::size_t(64 + p)]), pt.SsPcChatter) << p;
        EXPECT_EQ(WordsText(pts, 640 + 8 * std::size_t(p), 8), "Normal") << p;
        EXPECT_EQ(WordsText(pts, 896 + 8 * std::size_t(p), 8), "Alarm " + std::to_string(p)) << p;
    }

    EXPECT_FALSE(rig.model->transfer().visible);
    EXPECT_EQ(PollInterval(rig.write()), 0);
    EXPECT_EQ(PollInterval(rig.eventScan()), EventScanPollInterval);
    EXPECT_EQ(PollInterval(rig.timeSetup()), TimeSetupPollInterval);
    EXPECT_TRUE(rig.messages.empty());
}

TEST_F(TransferSim, DownloadSendsBackTheDisabledWordReadUnlessTheBoxChanged)
{
    startLoaded();
    {
        // Words the module may hold that read as enabled, besides the 0xFFFF
        // of every third point and the 1 of point 5.
        ModuleRegisters regs(rig.port);
        ASSERT_TRUE(regs.connected());
        ASSERT_TRUE(regs.write(397 + 1, {5}));
        ASSERT_TRUE(regs.write(397 + 20, {7}));
    }
    rig.transfer->startUpload();
    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    ASSERT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Finished);
    ASSERT_EQ(rig.model->page().top(), 0);
    ASSERT_EQ(rig.model->page().row(1).SsPcEnable, Check::Checked);
    rig.model->page().row(0).SsPcEnable = Check::Checked;   // point 1, 0xFFFF
    rig.model->page().row(1).SsPcEnable = Check::Unchecked; // point 2, 5

    rig.transfer->startDownload();
    ASSERT_TRUE(rig.waitEnd(rig.transfer->download()));
    ASSERT_EQ(rig.transfer->download().outcome(), TransferOutcome::Finished);

    ModuleRegisters regs(rig.port);
    ASSERT_TRUE(regs.connected());
    const std::vector<quint16> expected = {
        0,
        0xFFFF,
        0,
        0xFFFF,
        1,
        0,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
        7,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
        0,
        0xFFFF,
        0,
    };
    EXPECT_EQ(regs.read(397, 32), expected);
}

TEST_F(TransferSim, UploadAfterDownloadReproducesTheSettings)
{
    ASSERT_TRUE(rig.start());
    FillScreen(rig.model->settings());
    FillPoints(rig.model->points());
    rig.model->loadPointPage();
    const ModuleSettings sent = rig.model->settings();
    const PointTable sentPoints = rig.model->points();
    rig.transfer->startDownload();
    ASSERT_TRUE(rig.waitEnd(rig.transfer->download()));
    ASSERT_EQ(rig.transfer->download().outcome(), TransferOutcome::Finished);

    // A second window, as after a restart of the program.
    ChronelModel other(PlctagControlFactory());
    other.settings().ConfigTcpipIp = {
        QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")};
    other.startUp();
    std::vector<UserMessage> messages;
    Transfer transfer(other, [&](const UserMessage& m) { messages.push_back(m); });
    transfer.setPollInterval(10);
    transfer.startUpload();
    ASSERT_TRUE(rig.waitEnd(transfer.upload()));
    for (int i = 0; i < ChannelCount; ++i)
        other.channels()[ChannelId(i)].AutoPoll(0);
    ASSERT_EQ(transfer.upload().outcome(), TransferOutcome::Finished);

    ModuleSettings expected = sent;
    expected.ConfigTcpipMac = other.settings().ConfigTcpipMac;
    expected.ConfigVersion = other.settings().ConfigVersion;
    expected.ConfigModbusAddress = other.settings().ConfigModbusAddress;
    EXPECT_TRUE(other.settings() == expected);
    for (const TextFieldBinding& f : TextFields())
        EXPECT_EQ(other.settings().*f.member, expected.*f.member) << f.control;
    EXPECT_EQ(other.settings().ConfigModuleName, sent.ConfigModuleName);
    for (int p = 0; p < 32; ++p)
        EXPECT_TRUE(other.points()[std::size_t(p)] == sentPoints[std::size_t(p)]) << "point " << p + 1;
    EXPECT_TRUE(messages.empty());
}

TEST_F(TransferSim, SequencesPollEvery500MsUnlessToldOtherwise)
{
    ASSERT_TRUE(rig.start({"--delay-ms", "50"}, false));
    Transfer plain(*rig.model, [](const UserMessage&) {});
    plain.startUpload();
    EXPECT_EQ(PollInterval(rig.read()), TransferPollInterval);
    plain.startDownload();
    EXPECT_EQ(PollInterval(rig.write()), TransferPollInterval);
    EXPECT_EQ(PollInterval(rig.read()), 0);
    EXPECT_EQ(TransferPollInterval, 500);
}

// Faults the simulator injects, and how the sequence must end.
struct FaultCase {
    const char* name;
    bool upload;
    std::vector<std::string> simArgs;
    TransferOutcome outcome;
    int errors;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class TransferFaults : public TransferSim, public ::testing::WithParamInterface<FaultCase> { };

TEST_P(TransferFaults, ErrorsAreCountedOverTheWholeSequence)
{
    // Nothing but the sequence's own requests reaches the simulator, so its
    // fault schedule counts them alone.
    const FaultCase& c = GetParam();
    ASSERT_TRUE(rig.start(c.simArgs, false));
    TransferSequence& sequence =
        c.upload ? static_cast<TransferSequence&>(rig.transfer->upload()) : rig.transfer->download();
    if (c.upload)
        rig.transfer->startUpload();
    else
        rig.transfer->startDownload();
    ASSERT_TRUE(rig.waitEnd(sequence, 30000));
    EXPECT_EQ(sequence.outcome(), c.outcome);
    EXPECT_EQ(sequence.TransferErrorCount(), c.errors);
    EXPECT_FALSE(rig.model->transfer().visible);
    EXPECT_EQ(PollInterval(sequence.channel()), 0);
    EXPECT_EQ(PollInterval(rig.eventScan()), EventScanPollInterval);
    EXPECT_EQ(sequence.channel().Host(), StopHost());

    const std::vector<LoggedRequest> made = transferRequests();
    if (c.outcome == TransferOutcome::Finished) {
        EXPECT_TRUE(rig.messages.empty());
        // Every block once, each failed one repeated.
        const std::vector<LoggedRequest> blocks = c.upload ? UploadReads() : DownloadWrites();
        EXPECT_EQ(made.size(), blocks.size() + std::size_t(c.errors));
        std::vector<LoggedRequest> distinct;
        for (const LoggedRequest& r : made) {
            if (distinct.empty() || !(distinct.back() == r))
                distinct.push_back(r);
        }
        EXPECT_EQ(distinct, blocks);
    } else {
        ASSERT_EQ(rig.messages.size(), 1u);
        EXPECT_EQ(rig.messages[0].title, QStringLiteral("Chronel"));
        EXPECT_EQ(rig.messages[0].text,
            c.upload ? QStringLiteral("The upload sequence failed") : QStringLiteral("The download sequence failed"));
        EXPECT_EQ(rig.messages[0].icon, platform::MessageIcon::Critical);
        // Nothing more goes out once the sequence has given up.
        const std::size_t before = made.size();
        QTest::qWait(100);
        EXPECT_EQ(transferRequests().size(), before);
    }
    if (c.upload && c.outcome == TransferOutcome::Failed) {
        EXPECT_EQ(PollInterval(rig.timeSetup()), 0);
    }
}

// Every n-th request of the simulator goes unanswered; the requests of one
// sequence are the only ones it sees. The 20 reads need 23 requests with
// every 6th lost (3 errors) and reach the 4th error with every 5th lost; the
// 21 writes need 24 with every 7th lost and fail with every 6th.
INSTANTIATE_TEST_SUITE_P(Sim, TransferFaults,
    ::testing::Values(
        FaultCase{"UploadThreeLostRepliesThenDone", true, {"--drop-reply-every", "6"}, TransferOutcome::Finished, 3},
        FaultCase{"UploadFourthLostReplyAborts", true, {"--drop-reply-every", "5"}, TransferOutcome::Failed, 4},
        FaultCase{
            "DownloadThreeLostRequestsThenDone", false, {"--drop-request-every", "7"}, TransferOutcome::Finished, 3},
        FaultCase{"DownloadFourthLostRequestAborts", false, {"--drop-request-every", "6"}, TransferOutcome::Failed, 4},
        FaultCase{"UploadLastBlockRefusedFourTimes", true, {"--exception", "1400:4"}, TransferOutcome::Failed, 4},
        FaultCase{"DownloadModuleIdRefusedFourTimes", false, {"--exception", "101:6"}, TransferOutcome::Failed, 4}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(TransferSim, AnAbortedUploadKeepsWhatItHadFilled)
{
    // The simulator's factory configuration; the description blocks refused.
    ASSERT_TRUE(rig.start({"--exception", "429:4"}, false));
    rig.model->settings().ConfigModuleName = QStringLiteral("Local");
    rig.model->settings().ConfigPlcId = QStringLiteral("9");
    rig.model->points()[0].SsPcFilter = 99;
    rig.model->points()[0].SsPcChatter = 5;
    rig.model->points()[0].SsPcDescription = QStringLiteral("Local text");
    rig.transfer->startUpload();
    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    ASSERT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Failed);
    EXPECT_EQ(rig.model->settings().ConfigModuleName, QStringLiteral("Chronel SER"));
    EXPECT_EQ(rig.model->settings().ConfigPlcId, QStringLiteral(" 1"));
    EXPECT_EQ(rig.model->points()[0].SsPcFilter, 20);
    EXPECT_EQ(rig.model->points()[0].SsPcChatter, 0);
    EXPECT_EQ(rig.model->points()[0].SsPcDescription, QStringLiteral("Local text"));
}

TEST_F(TransferSim, TheStopHostEndsASequenceSilently)
{
    ASSERT_TRUE(rig.start({}, false));
    rig.transfer->setPollInterval(30);
    rig.transfer->startUpload();
    // What a request that goes out after its sequence was stopped meets.
    rig.read().setHost(StopHost());
    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    EXPECT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Stopped);
    EXPECT_EQ(rig.transfer->upload().TransferErrorCount(), 0);
    EXPECT_TRUE(rig.messages.empty());
    EXPECT_EQ(PollInterval(rig.read()), 0);
    EXPECT_EQ(PollInterval(rig.eventScan()), EventScanPollInterval);
    EXPECT_TRUE(rig.model->transfer().visible); // left as it was

    rig.transfer->startDownload();
    rig.write().setHost(StopHost());
    ASSERT_TRUE(rig.waitEnd(rig.transfer->download()));
    EXPECT_EQ(rig.transfer->download().outcome(), TransferOutcome::Stopped);
    EXPECT_EQ(PollInterval(rig.timeSetup()), 0);
    EXPECT_TRUE(rig.messages.empty());
}

TEST_F(TransferSim, AnAddressThatCannotBeResolvedFailsWithAMessage)
{
    // 127.0.0.999 is no address; the request fails before anything is sent.
    ASSERT_TRUE(rig.start({}, false));
    rig.model->settings().ConfigTcpipIp[3] = QStringLiteral("999");
    rig.transfer->startUpload();
    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    EXPECT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Failed);
    EXPECT_EQ(rig.transfer->upload().TransferErrorCount(), 4);
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0].text, QStringLiteral("The upload sequence failed"));
    EXPECT_FALSE(rig.model->transfer().visible);
    EXPECT_TRUE(TransferRequests(rig.requests()).empty());
}

TEST_F(TransferSim, ACompletionForAnUnknownBlockFailsTheSequence)
{
    ASSERT_TRUE(rig.start({}, false));
    rig.transfer->setPollInterval(30);
    rig.transfer->startUpload();
    // The first read has completed inside the start; register 302 starts no block.
    ASSERT_EQ(rig.read().Address(), 101);
    rig.read().setAddress(302);
    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    EXPECT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Failed);
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0].text, QStringLiteral("The upload sequence failed"));
    EXPECT_EQ(rig.read().Host(), StopHost());
    EXPECT_EQ(PollInterval(rig.eventScan()), EventScanPollInterval);
    EXPECT_EQ(PollInterval(rig.timeSetup()), 0);

    rig.messages.clear();
    rig.transfer->startDownload();
    ASSERT_EQ(rig.write().Address(), 1);
    rig.write().setAddress(302);
    ASSERT_TRUE(rig.waitEnd(rig.transfer->download()));
    EXPECT_EQ(rig.transfer->download().outcome(), TransferOutcome::Failed);
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0].text, QStringLiteral("The download sequence failed"));
    EXPECT_FALSE(rig.model->transfer().visible);
    EXPECT_EQ(PollInterval(rig.eventScan()), EventScanPollInterval);
    EXPECT_EQ(PollInterval(rig.timeSetup()), TimeSetupPollInterval);
}

TEST_F(TransferSim, ADownloadStartedDuringAnUploadTakesOverSilently)
{
    startLoaded();
    rig.transfer->setPollInterval(20);
    rig.transfer->startUpload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.read().Address() >= 557; }, 10000));
    rig.transfer->startDownload();
    EXPECT_EQ(rig.transfer->upload().outcome(), TransferOutcome::TakenOver);
    EXPECT_EQ(PollInterval(rig.read()), 0);
    EXPECT_EQ(rig.model->transfer().label, QStringLiteral("Downloading"));
    EXPECT_TRUE(rig.model->transfer().visible);
    ASSERT_TRUE(rig.waitEnd(rig.transfer->download()));
    EXPECT_EQ(rig.transfer->download().outcome(), TransferOutcome::Finished);
    EXPECT_TRUE(rig.messages.empty());

    // The reads stop where the writes begin; the writes are the whole download.
    const std::vector<LoggedRequest> made = transferRequests();
    const auto firstWrite =
        std::find_if(made.begin(), made.end(), [](const LoggedRequest& r) { return r.function == 16; });
    ASSERT_NE(firstWrite, made.end());
    EXPECT_TRUE(std::all_of(firstWrite, made.end(), [](const LoggedRequest& r) { return r.function == 16; }));
    EXPECT_EQ(std::vector<LoggedRequest>(firstWrite, made.end()), DownloadWrites());
    const std::vector<LoggedRequest> reads(made.begin(), firstWrite);
    const std::vector<LoggedRequest> all = UploadReads();
    ASSERT_GE(reads.size(), 4u);
    EXPECT_EQ(reads, std::vector<LoggedRequest>(all.begin(), all.begin() + long(reads.size())));
}

TEST_F(TransferSim, StartingTheRunningSequenceAgainRestartsItWithTheCountAtZero)
{
    ASSERT_TRUE(rig.start({"--exception", "365:4"}, false));
    rig.transfer->setPollInterval(50);
    rig.transfer->startUpload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.transfer->upload().TransferErrorCount() == 2; }, 10000));
    rig.transfer->startUpload();
    EXPECT_EQ(rig.transfer->upload().TransferErrorCount(), 0);
    EXPECT_TRUE(rig.transfer->upload().running());
    ASSERT_TRUE(rig.waitEnd(rig.transfer->upload()));
    // 365 is refused for good: the restarted upload fails after its own four.
    EXPECT_EQ(rig.transfer->upload().outcome(), TransferOutcome::Failed);
    EXPECT_EQ(rig.transfer->upload().TransferErrorCount(), 4);
    const std::vector<LoggedRequest> made = transferRequests();
    const std::vector<LoggedRequest> expected{{3, 1, 100, {}}, {3, 101, 1, {}}, {3, 301, 64, {}}, {3, 365, 64, {}},
        {3, 365, 64, {}}, {3, 1, 100, {}}, {3, 101, 1, {}}, {3, 301, 64, {}}, {3, 365, 64, {}}, {3, 365, 64, {}},
        {3, 365, 64, {}}, {3, 365, 64, {}}};
    EXPECT_EQ(made, expected);
    EXPECT_EQ(rig.messages.size(), 1u);
}

} // namespace
