// The configurator's channels on real PLCTAG controls, talking Modbus TCP to a
// libmodbus server on loopback. The module address is set to 127.0.0.1 before
// anything is sent, and every block a test uploads carries that address too.
#include "core/fields/text_rule.h"
#include "core/link/plctag_factory.h"
#include "core/model/chronel_model.h"
#include "regaccess/plctag.h"
#include "support/qt_printers.h"
#include "support/recording_peer.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace chronel;

namespace {

QTemporaryDir* AdapterDir()
{
    static QTemporaryDir dir;
    return &dir;
}

QString WriteAdapterFile(const char* name, const char* content)
{
    const QString path = AdapterDir()->filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(content);
    return path;
}

void UseAdapterFile(const QString& path) { ::setenv("PLCDRV_INI", QFile::encodeName(path).constData(), 1); }

const char* const TcpAdapterZero = "[Adapter.Object.1]\nType=2\nEnabled=0\n";
const char* const SerialAdapterZero = "[Adapter.Object.1]\nType=0\nEnabled=0\n";

void SetLoopback(ModuleSettings& s)
{
    s.ConfigTcpipIp = {QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")};
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.listening());
        UseAdapterFile(WriteAdapterFile("tcp.ini", TcpAdapterZero));
        ::setenv("PLCTAG_TCP_PORT", std::to_string(peer.port()).c_str(), 1);
        model = std::make_unique<ChronelModel>(PlctagControlFactory());
        SetLoopback(model->settings());
    }
    void TearDown() override
    {
        for (int i = 0; i < ChannelCount; ++i)
            model->channels()[ChannelId(i)].AutoPoll(0);
        model.reset();
    }

    // The memory the channels may reach: 2000 holding registers, 64 of each other table.
    test::RecordingPeer peer{0, {.holdings = 2000, .coils = 64, .inputs = 64, .inputRegisters = 64}};
    std::unique_ptr<ChronelModel> model;
};

TEST_F(ChannelTest, ControlsOfferEverythingAChannelUses)
{
    EXPECT_TRUE(model->channels().problems().isEmpty()) << model->channels().problems().join(u'\n').toStdString();
}

TEST_F(ChannelTest, ChannelsStartWithTheirStoredProperties)
{
    // name, Host, Port, TimeToLive, RoutePath, Adapter, Function, RegType, Address, Size, SlaveReg
    const ChannelProperties expected[ChannelCount] = {
        {"modConfigRead", "127.0.0.1", 8001, 500, "1.0.0.0.0", 0, 0, 0, 1, 1, 40001},
        {"modConfigWrite", "192.168.16.99", 8001, 500, "255.0.0.0.0", 0, 1, 3, 1, 1, 40001},
        {"modEventScan", "127.0.0.1", 8001, 500, "1.0.0.0.0", 0, 0, 0, 1, 1, 40001},
        {"modPointScan", "192.168.16.99", 8001, 500, "1.0.0.0.0", 0, 0, 1, 1, 1, 40001},
        {"modTimeSetup", "192.168.16.99", 8001, 500, "1.0.0.0.0", 0, 0, 3, 50, 24, 40001},
        {"modFlash", "192.168.16.99", 8001, 500, "1.0.0.0.0", 0, 0, 0, 1, 1, 40001},
    };
    for (int i = 0; i < ChannelCount; ++i) {
        const ChannelProperties& p = expected[i];
        Channel& c = model->channels()[ChannelId(i)];
        SCOPED_TRACE(p.name);
        EXPECT_EQ(c.name(), QString::fromLatin1(p.name));
        EXPECT_EQ(c.control()->objectName(), QString::fromLatin1(p.name));
        EXPECT_EQ(c.Host(), QString::fromLatin1(p.host));
        EXPECT_EQ(c.Port(), p.port);
        EXPECT_EQ(c.TimeToLive(), p.timeToLive);
        EXPECT_EQ(c.RoutePath(), QString::fromLatin1(p.routePath));
        EXPECT_EQ(c.Adapter(), p.adapter);
        EXPECT_EQ(c.Function(), p.function);
        EXPECT_EQ(c.RegType(), p.regType);
        EXPECT_EQ(c.Address(), p.address);
        EXPECT_EQ(c.Size(), p.size);
        EXPECT_EQ(c.SlaveReg(), p.slaveReg);
    }
}

TEST(ReplyWindow, ChannelsCreatedAfterItIsSetWaitThatLong)
{
    const ControlFactory factory = PlctagControlFactory();
    SetReplyWindow(2000);
    ChronelModel slow(factory);
    Channel extra(QStringLiteral("modTestMode"), factory(ControlClassName(), &slow));
    SetReplyWindow(0);
    ChronelModel normal(factory);
    for (int i = 0; i < ChannelCount; ++i) {
        EXPECT_EQ(slow.channels()[ChannelId(i)].TimeToLive(), 2000) << i;
        EXPECT_EQ(normal.channels()[ChannelId(i)].TimeToLive(), 500) << i;
    }
    EXPECT_EQ(extra.TimeToLive(), 2000);
}

TEST_F(ChannelTest, StartUpPreparesTheChannelsAndPollsTheEventScan)
{
    model->startUp();
    ChannelSet& ch = model->channels();
    Channel& ts = ch.modTimeSetup();
    EXPECT_EQ(ts.Host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ts.Address(), 200);
    EXPECT_EQ(ts.Function(), 0);
    EXPECT_EQ(ts.RegType(), 3);
    EXPECT_EQ(ts.Size(), 24);
    EXPECT_EQ(ts.RoutePath(), QStringLiteral("255.0.0.0.0"));

    Channel& es = ch.modEventScan();
    EXPECT_EQ(es.Host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(es.Address(), 1);
    EXPECT_EQ(es.RegType(), 0);
    EXPECT_EQ(es.Size(), 1);
    EXPECT_EQ(es.RoutePath(), QStringLiteral("255.0.0.0.0"));

    Channel& ps = ch.modPointScan();
    EXPECT_EQ(ps.Address(), 1);
    EXPECT_EQ(ps.RegType(), 1);
    EXPECT_EQ(ps.Size(), 31);
    EXPECT_EQ(ps.RoutePath(), QStringLiteral("255.0.0.0.0"));

    // Only the event scan polls: its first request goes out at once, the
    // next one two seconds later.
    auto interval = [](Channel& c) { return qobject_cast<regaccess::Plctag*>(c.control())->pollInterval(); };
    EXPECT_EQ(interval(ts), 0);
    EXPECT_EQ(interval(es), EventScanStartInterval);
    EXPECT_EQ(interval(ps), 0);
    EXPECT_EQ(peer.requests().size(), 1u);
    QSignalSpy reads(&es, &Channel::OnReadDone);
    EXPECT_TRUE(reads.wait(3000));
    EXPECT_EQ(peer.requests().size(), 2u);
}

TEST_F(ChannelTest, WordsTravelThroughTheChannelBuffer)
{
    Channel& c = model->channels().modConfigWrite();
    c.setWordVal(0, -2);
    c.setWordVal(255, 0x1234);
    EXPECT_EQ(c.WordVal(0), -2);
    EXPECT_EQ(c.WordVal(255), 0x1234);
    EXPECT_EQ(c.WordVal(300), 0x1234); // indexes are clamped by the control
    EXPECT_TRUE(c.BitVal(0, 1));
    EXPECT_FALSE(c.BitVal(0, 0));
}

ConfigBlock ModuleBlock()
{
    ConfigBlock w{};
    w[0] = 1;
    w[1] = -6;
    w[2] = 3;
    w[3] = 1;
    w[4] = 75;
    w[5] = 4;
    w[6] = 3, w[7] = 14, w[8] = 2, w[9] = 11, w[10] = 7, w[11] = 3;
    w[12] = 1;
    w[13] = 6, w[14] = 2, w[15] = 12, w[16] = 9, w[17] = 0, w[18] = -1;
    for (int i = 0; i < 6; ++i)
        w[std::size_t(19 + i)] = qint16(0x10 * i + 1);
    w[25] = 2;
    const qint16 octets[] = {127, 0, 0, 1, 255, 255, 255, 0, 127, 0, 0, 254};
    for (int i = 0; i < 12; ++i)
        w[std::size_t(26 + i)] = octets[i];
    WriteRegisterText(w, 76, 16, u"Feeder Bay 7");
    w[46] = 3;
    w[48] = 160;
    w[49] = 255;
    w[50] = 1, w[51] = 1, w[52] = 1, w[53] = 0, w[54] = 1;
    return w;
}

TEST_F(ChannelTest, ConfigurationBlockUploadedAndDownloadedOverModbusTcp)
{
    const ConfigBlock block = ModuleBlock();
    for (int i = 0; i < ConfigBlockReadWords; ++i)
        peer.setHolding(1 + i, quint16(block[std::size_t(i)]));

    Channel& read = model->channels().modConfigRead();
    int readDone = 0;
    QObject::connect(&read, &Channel::OnReadDone, [&] {
        ++readDone;
        ConfigBlock words{};
        for (int i = 0; i < ConfigBlockReadWords; ++i)
            words[std::size_t(i)] = read.WordVal(i);
        model->applyConfigBlock(words);
    });
    read.prepare(model->GetIp(), ConfigBlockRegister, 0, 3, ConfigBlockReadWords);
    read.Trigger();
    ASSERT_EQ(readDone, 1);

    const ModuleSettings& s = model->settings();
    EXPECT_EQ(s.ConfigModuleName, QStringLiteral("Feeder Bay 7"));
    EXPECT_EQ(s.ConfigEventDelay, QStringLiteral(" 750"));
    EXPECT_EQ(s.ConfigVersion, QStringLiteral("1.60"));
    EXPECT_EQ(s.ConfigTcpipMac, QStringLiteral("01 : 11 : 21 : 31 : 41 : 51"));
    EXPECT_EQ(s.ConfigTcpipSpeed, TcpipSpeed::Mbps100);
    EXPECT_EQ(s.ConfigModbus485Baud, 9);
    EXPECT_EQ(model->GetIp(), QStringLiteral("127.0.0.1"));

    // Change the module's registers so the download must write them back.
    for (int i = 0; i < ConfigBlockWriteWords; ++i)
        peer.setHolding(1 + i, 0xEEEE);

    Channel& write = model->channels().modConfigWrite();
    int writeDone = 0;
    QObject::connect(&write, &Channel::OnWriteDone, [&] { ++writeDone; });
    std::array<qint16, ConfigBlockWriteWords> words{};
    for (int i = 0; i < ConfigBlockWriteWords; ++i)
        words[std::size_t(i)] = write.WordVal(i);
    model->fillConfigBlock(words);
    for (int i = 0; i < ConfigBlockWriteWords; ++i)
        write.setWordVal(i, words[std::size_t(i)]);
    write.prepare(model->GetIp(), ConfigBlockRegister, 1, 3, ConfigBlockWriteWords);
    write.Trigger();
    ASSERT_EQ(writeDone, 1);

    // Every word the download fills: all but the MAC (19 … 24), 47 … 49 and
    // 55 … 59, which go out as the buffer holds them.
    for (int i = 0; i < ConfigBlockWriteWords; ++i) {
        const bool notSet = (i >= 19 && i <= 24) || (i >= 47 && i <= 49) || i >= 55;
        if (!notSet) {
            EXPECT_EQ(peer.holding(1 + i), quint16(block[std::size_t(i)])) << "register " << 1 + i;
        }
    }
}

TEST_F(ChannelTest, PointBlockDownloadedAndUploadedOverModbusTcp)
{
    model->startUp();
    model->channels().modEventScan().AutoPoll(0);
    model->points()[0].SsPcFilter = 40000;
    model->points()[31].SsPcDebounce = 65535;

    Channel& write = model->channels().modConfigWrite();
    PointBlock block{};
    ASSERT_TRUE(TableToPointBlock(301, model->points(), block));
    for (int i = 0; i < PointBlockWords; ++i)
        write.setWordVal(i, block[std::size_t(i)]);
    write.prepare(model->GetIp(), 301, 1, 3, PointBlockWords);
    QSignalSpy written(&write, &Channel::OnWriteDone);
    write.Trigger();
    ASSERT_EQ(written.count(), 1);
    EXPECT_EQ(peer.holding(301), 0x9C40);
    EXPECT_EQ(peer.holding(301 + 63), 0xFFFF);

    PointTable uploaded{};
    Channel& read = model->channels().modConfigRead();
    read.prepare(model->GetIp(), 301, 0, 3, PointBlockWords);
    QSignalSpy readDone(&read, &Channel::OnReadDone);
    read.Trigger();
    ASSERT_EQ(readDone.count(), 1);
    PointBlock words{};
    for (int i = 0; i < PointBlockWords; ++i)
        words[std::size_t(i)] = read.WordVal(i);
    ASSERT_TRUE(PointBlockToTable(301, words, uploaded));
    EXPECT_EQ(uploaded[0].SsPcFilter, 40000);
    EXPECT_EQ(uploaded[31].SsPcDebounce, 65535);
    EXPECT_EQ(uploaded[5].SsPcFilter, 20);
}

TEST_F(ChannelTest, RefusedRequestsExplainHowToConfigureAdapterZero)
{
    const QString serial = WriteAdapterFile("serial.ini", SerialAdapterZero);
    UseAdapterFile(serial);
    model->setAdapterConfigPath(serial);
    QSignalSpy status(model.get(), &ChronelModel::statusMessage);
    Channel& c = model->channels().modPointScan();
    QSignalSpy errors(&c, &Channel::OnErrorEvent);
    c.prepare(model->GetIp(), 1, 0, 1, 31);
    c.Trigger();
    if (errors.isEmpty())
        errors.wait(2000);
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toInt(), -5);
    ASSERT_EQ(status.count(), 1);
    const QString hint = status.at(0).at(0).toString();
    EXPECT_TRUE(hint.contains(QStringLiteral("drvsetup")));
    EXPECT_TRUE(hint.contains(serial));
    EXPECT_EQ(peer.requests().size(), 0u);
}

} // namespace
