#include "core/model/chronel_model.h"
#include "core/model/defaults.h"

#include "regaccess/transport_choice.h"
#include "support/qt_printers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace chronel;

namespace {

// Models without a control factory: the channels are inert, everything else
// is the real window state.
class ModelTest : public ::testing::Test {
protected:
    ChronelModel model;
};

TEST_F(ModelTest, StartUpState)
{
    model.startUp();
    const ModuleSettings& s = model.settings();
    EXPECT_EQ(s.ConfigEventBufferType, 2);
    EXPECT_EQ(s.ConfigTcpipMode, TcpipMode::Manual);
    EXPECT_EQ(s.ConfigModbus232Baud, 5);
    EXPECT_EQ(s.ConfigModbus485Baud, 5);
    EXPECT_EQ(s.ConfigModbus232Parity, 1);
    EXPECT_EQ(s.ConfigModbus485Parity, 1);
    EXPECT_EQ(s.ConfigModbus232Delay, QStringLiteral("0"));
    EXPECT_EQ(s.ConfigModbus485Delay, QStringLiteral("0"));
    EXPECT_EQ(s.ConfigModbus232Protocol, -1);
    EXPECT_EQ(s.ConfigModbus485Protocol, -1);
    EXPECT_EQ(model.dstLocationItems().size(), 6);
    EXPECT_EQ(model.dstLocationItems().first(), QStringLiteral("Disabled"));
    EXPECT_EQ(model.dstLocationItems().last(), QStringLiteral("United States"));
    EXPECT_EQ(s.TsDstLocation, -1);
    EXPECT_EQ(model.serDataTabCaption(), QStringLiteral("Retrieve SER Data"));
    EXPECT_FALSE(model.monitorEventData());
    // Not set at start: the event delay, the offsets, the speed.
    EXPECT_TRUE(s.ConfigEventDelay.isEmpty());
    EXPECT_TRUE(s.TsToGpsOffset.isEmpty());
    EXPECT_EQ(s.ConfigTcpipSpeed, TcpipSpeed::None);
    EXPECT_TRUE(s.ConfigTcpipEthernetCommEnabled);
    EXPECT_EQ(model.GetIp(), QStringLiteral("192.168.16.140"));
    EXPECT_EQ(model.page().top(), 0);
    EXPECT_EQ(model.page().row(0).SsPcDescription, QStringLiteral("Point  1"));
    EXPECT_EQ(model.page().row(7).SsPcEnable, Check::Checked);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(model.startYear(), today.year());
    EXPECT_EQ(model.startMonth(), today.month());
    EXPECT_EQ(model.startDay(), today.day());
    for (IndicatorColour c : model.pointStatus())
        EXPECT_EQ(c, IndicatorColour::ButtonFace);
    EXPECT_FALSE(model.transfer().visible);
}

TEST_F(ModelTest, RestoreDefaultsPutsBackItsSubsetOnly)
{
    model.startUp();
    ModuleSettings& s = model.settings();
    s.ConfigModbus232Protocol = 1;
    s.ConfigModbus232Baud = 0;
    s.ConfigModbus485Parity = 2;
    s.ConfigModuleName = QStringLiteral("Keep me");
    s.ConfigPlcId = QStringLiteral("12");
    s.ConfigLock = Check::Checked;
    s.TsIeee1344 = Check::Checked;
    s.ConfigTcpipEthernetComm = EthernetComm::Half;
    s.TsDstStartMonth = QStringLiteral("3");
    s.ConfigTcpipIp[3] = QStringLiteral("9");
    s.ConfigSyncMaster = Check::Checked;
    s.ConfigHourTimeUpdate = Check::Checked;
    s.ConfigTcpipMode = TcpipMode::Dhcp;
    s.ConfigEventBufferType = 0;
    s.chooseTcpipSpeed(TcpipSpeed::Mbps10);
    model.points()[20].SsPcFilter = 999;
    model.points()[20].SsPcDisabled = true;
    model.points()[20].SsPcOn = QStringLiteral("Tripped");
    model.showPointPage(3);

    model.restoreDefaultSettings();

    EXPECT_EQ(s.ConfigModbus232Protocol, 1);
    EXPECT_EQ(s.ConfigModuleName, QStringLiteral("Keep me"));
    EXPECT_EQ(s.ConfigPlcId, QStringLiteral("12"));
    EXPECT_EQ(s.ConfigLock, Check::Checked);
    EXPECT_EQ(s.TsIeee1344, Check::Checked);
    EXPECT_EQ(s.ConfigTcpipEthernetComm, EthernetComm::Half);
    EXPECT_EQ(s.TsDstStartMonth, QStringLiteral("3"));
    EXPECT_EQ(s.ConfigTcpipIp[3], QStringLiteral("9"));

    EXPECT_EQ(s.ConfigModbus232Baud, 5);
    EXPECT_EQ(s.ConfigModbus485Parity, 1);
    EXPECT_EQ(s.ConfigSyncMaster, Check::Unchecked);
    EXPECT_EQ(s.ConfigHourTimeUpdate, Check::Unchecked);
    EXPECT_EQ(s.ConfigTcpipMode, TcpipMode::Manual);
    EXPECT_EQ(s.ConfigEventBufferType, 2);
    EXPECT_EQ(s.ConfigTcpipSpeed, TcpipSpeed::AutoNegotiate);
    EXPECT_FALSE(s.ConfigTcpipEthernetCommEnabled);
    EXPECT_EQ(s.ConfigEventDelay, QStringLiteral("500"));
    EXPECT_EQ(s.TsToGpsOffset, QStringLiteral("-5"));
    EXPECT_EQ(s.TsToIrigOffset, QStringLiteral("0"));
    EXPECT_EQ(s.TsDstLocation, 0);
    for (int p = 0; p < PointCount; ++p)
        EXPECT_EQ(model.points()[std::size_t(p)], DefaultPoint(p)) << p;
    EXPECT_EQ(model.page().top(), 3);
    EXPECT_EQ(model.page().row(0).SsPcPointNum, QStringLiteral(" 4"));
    EXPECT_EQ(model.page().row(0).SsPcFilter, QStringLiteral(" 20"));
}

TEST_F(ModelTest, RestoreDefaultsDiscardsUnstoredRowEdits)
{
    model.startUp();
    model.page().row(0).SsPcFilter = QStringLiteral("77");
    model.restoreDefaultSettings();
    EXPECT_EQ(model.page().row(0).SsPcFilter, QStringLiteral(" 20"));
    EXPECT_EQ(model.points()[0].SsPcFilter, 20);
}

// The duplex options follow the speed however it is chosen.
struct DuplexCase {
    const char* how;
    std::function<void(ChronelModel&)> choose;
    bool enabled;
};
class DuplexRuleTest : public ::testing::TestWithParam<DuplexCase> { };

ConfigBlock SpeedBlock(qint16 code)
{
    ConfigBlock b{};
    b[46] = code;
    return b;
}

TEST_P(DuplexRuleTest, EnabledUnlessAutoNegotiate)
{
    ChronelModel model;
    model.startUp();
    // Start from the opposite state so every case must change it.
    model.chooseTcpipSpeed(GetParam().enabled ? TcpipSpeed::AutoNegotiate : TcpipSpeed::Mbps10);
    ASSERT_EQ(model.settings().ConfigTcpipEthernetCommEnabled, !GetParam().enabled);
    QSignalSpy spy(&model, &ChronelModel::settingsChanged);
    GetParam().choose(model);
    EXPECT_EQ(model.settings().ConfigTcpipEthernetCommEnabled, GetParam().enabled) << GetParam().how;
    EXPECT_GE(spy.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Paths, DuplexRuleTest,
    ::testing::Values(
        DuplexCase{"click Auto", [](ChronelModel& m) { m.chooseTcpipSpeed(TcpipSpeed::AutoNegotiate); }, false},
        DuplexCase{"click 10", [](ChronelModel& m) { m.chooseTcpipSpeed(TcpipSpeed::Mbps10); }, true},
        DuplexCase{"click 100", [](ChronelModel& m) { m.chooseTcpipSpeed(TcpipSpeed::Mbps100); }, true},
        DuplexCase{"upload 0", [](ChronelModel& m) { m.applyConfigBlock(SpeedBlock(0)); }, false},
        DuplexCase{"upload 1", [](ChronelModel& m) { m.applyConfigBlock(SpeedBlock(1)); }, true},
        DuplexCase{"upload 2", [](ChronelModel& m) { m.applyConfigBlock(SpeedBlock(2)); }, true},
        DuplexCase{"upload 3", [](ChronelModel& m) { m.applyConfigBlock(SpeedBlock(3)); }, true},
        DuplexCase{"restore defaults", [](ChronelModel& m) { m.restoreDefaultSettings(); }, false}));

TEST(DuplexRule, UnknownSpeedWordLeavesSelectionAndEnabling)
{
    ChronelModel model;
    model.chooseTcpipSpeed(TcpipSpeed::AutoNegotiate);
    model.applyConfigBlock(SpeedBlock(9));
    EXPECT_EQ(model.settings().ConfigTcpipSpeed, TcpipSpeed::AutoNegotiate);
    EXPECT_FALSE(model.settings().ConfigTcpipEthernetCommEnabled);
}

TEST_F(ModelTest, DownloadRewritesAndMarksClampedFields)
{
    model.startUp();
    model.settings().TsToGpsOffset = QStringLiteral("99999");
    model.settings().ConfigEventDelay = QStringLiteral("500");
    std::array<qint16, ConfigBlockWriteWords> words{};
    QSignalSpy notes(&model, &ChronelModel::fieldNotesChanged);
    model.fillConfigBlock(words);
    EXPECT_EQ(words[1], 32767);
    EXPECT_EQ(model.settings().TsToGpsOffset, QStringLiteral(" 32767"));
    ASSERT_TRUE(model.fieldNotes().contains(QStringLiteral("txtTsToGpsOffset")));
    EXPECT_TRUE(model.fieldNotes().value(QStringLiteral("txtTsToGpsOffset")).contains(QStringLiteral("99999")));
    EXPECT_FALSE(model.fieldNotes().contains(QStringLiteral("txtConfigEventDelay")));
    EXPECT_GE(notes.count(), 1);

    model.clearFieldNote(QStringLiteral("txtTsToGpsOffset"));
    EXPECT_TRUE(model.fieldNotes().isEmpty());
}

TEST_F(ModelTest, ModuleIdClampIsMarked)
{
    model.settings().ConfigPlcId = QStringLiteral("123456");
    EXPECT_EQ(model.moduleIdWord(), 32767);
    EXPECT_EQ(model.settings().ConfigPlcId, QStringLiteral(" 32767"));
    EXPECT_TRUE(model.fieldNotes().contains(QStringLiteral("txtConfigPlcId")));
    model.applyModuleId(-3);
    EXPECT_EQ(model.settings().ConfigPlcId, QStringLiteral("-3"));
    EXPECT_FALSE(model.fieldNotes().contains(QStringLiteral("txtConfigPlcId")));
}

TEST_F(ModelTest, PointMarkFollowsItsPointAcrossScrolling)
{
    model.startUp();
    model.showPointPage(8);
    model.page().row(1).SsPcChatter = QStringLiteral("50000"); // point 10
    model.showPointPage(16);
    EXPECT_EQ(model.points()[9].SsPcChatter, 32767);
    EXPECT_TRUE(model.fieldNotes().isEmpty()); // point 10 is not on the page
    model.showPointPage(5);                    // point 10 in row 4
    const auto notes = model.fieldNotes();
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes.contains(QStringLiteral("txtSsPcChatter(4)")));
    EXPECT_EQ(model.page().row(4).SsPcChatter, QStringLiteral(" 32767"));
    model.clearFieldNote(QStringLiteral("txtSsPcChatter"), 4);
    EXPECT_TRUE(model.fieldNotes().isEmpty());
}

TEST_F(ModelTest, TransferDisplay)
{
    QSignalSpy spy(&model, &ChronelModel::transferChanged);
    model.beginTransfer(QStringLiteral("Uploading"));
    EXPECT_TRUE(model.transfer().visible);
    EXPECT_EQ(model.transfer().value, 1);
    EXPECT_EQ(model.transfer().maximum, 1389);
    EXPECT_EQ(model.transfer().label, QStringLiteral("Uploading"));
    model.setTransferProgress(1389);
    EXPECT_EQ(model.transfer().value, 1389);
    model.setTransferProgress(1491);
    EXPECT_EQ(model.transfer().value, 1389);
    model.endTransfer();
    EXPECT_FALSE(model.transfer().visible);
    EXPECT_EQ(spy.count(), 4);
}

TEST_F(ModelTest, PointStatusPainting)
{
    QSignalSpy spy(&model, &ChronelModel::pointStatusChanged);
    model.paintPointStatus(0x0001, 0x8000);
    EXPECT_EQ(model.pointStatus()[0], IndicatorColour::Green);
    EXPECT_EQ(model.pointStatus()[31], IndicatorColour::Green);
    EXPECT_EQ(model.pointStatus()[1], IndicatorColour::ButtonFace);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(ModelTest, InertChannelsReportWhatTheyMiss)
{
    EXPECT_EQ(model.channels().problems().size(), ChannelCount);
    EXPECT_EQ(model.channels().modEventScan().name(), QStringLiteral("modEventScan"));
    // Calls on a channel without a control do nothing and do not crash.
    model.channels().modEventScan().setHost(QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(model.channels().modEventScan().Trigger());
    EXPECT_TRUE(model.channels().modEventScan().Host().isEmpty());
}

TEST(AdapterHint, NamesTheAdapterAndTheFileRead)
{
    ChronelModel model;
    model.setAdapterConfigPath(QStringLiteral("/tmp/PLCDRV.INI"));
    const QString hint = model.adapterRefusedHint();
    EXPECT_TRUE(hint.contains(QStringLiteral("drvsetup")));
    EXPECT_TRUE(hint.contains(QStringLiteral("Adapter.Object.1")));
    EXPECT_TRUE(hint.contains(QStringLiteral("/tmp/PLCDRV.INI")));
}

// A run of many modules once used up its file descriptors: PLCDRV.INI could
// not be opened, its defaults sent every request to a driver that was not
// there, and the hint blamed the adapter settings and kept doing so after
// descriptors were free again.
TEST(AdapterHint, AnUnreadableFileIsNamedWithTheSystemsReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("PLCDRV.INI"));
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Adapter.Object.1]\nType=2\nEnabled=0\n");
        ASSERT_TRUE(file.flush());
        // Old enough for its values to be kept between requests.
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    const QByteArray previousIni = qgetenv("PLCDRV_INI");
    qputenv("PLCDRV_INI", QFile::encodeName(ini));

    // Every descriptor taken: a limit just above the highest one open.
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    int highest = 0;
    for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System))
        highest = std::max(highest, fd.toInt());
    rlimit low = before;
    low.rlim_cur = rlim_t(highest + 8);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::dup(0)) >= 0;)
        taken.push_back(fd);
    const int exhausted = errno;
    const regaccess::TransportChoice starved = regaccess::transportFor(0, QStringLiteral("127.0.0.1"));
    const regaccess::AdapterSettingsFailure failure = regaccess::lastAdapterSettingsFailure();
    const QString hint = ChronelModel().adapterRefusedHint();
    for (int fd : taken)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &before);

    const regaccess::TransportChoice later = regaccess::transportFor(0, QStringLiteral("127.0.0.1"));
    const regaccess::AdapterSettingsFailure laterFailure = regaccess::lastAdapterSettingsFailure();
    if (previousIni.isNull())
        qunsetenv("PLCDRV_INI");
    else
        qputenv("PLCDRV_INI", previousIni);

    ASSERT_EQ(exhausted, EMFILE);
    EXPECT_EQ(starved.kind, regaccess::TransportKind::Driver);
    EXPECT_EQ(failure.systemError, EMFILE);
    EXPECT_EQ(hint,
        QStringLiteral("Requests are refused (error -5): the adapter settings %1 cannot be read: Too many open files.")
            .arg(ini));
    EXPECT_EQ(later.kind, regaccess::TransportKind::ModbusTcp) << "the defaults of the failed read were kept";
    EXPECT_TRUE(laterFailure.file.isEmpty());
}

} // namespace
