// The settings file: the bytes written, a save and reopen that reproduces
// every stored setting, hand-written files for each key message, bad values
// and run-time errors, and the three faults of the plain format mended here
// (atomic save, double quotes, a reader that cannot run away).
#include "core/transfer/settings_file.h"

#include "core/fields/conversions.h"
#include "core/model/chronel_model.h"
#include "support/qt_printers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace chronel;

namespace {

// Settings that differ from the start-up ones in every stored field; texts
// with commas, RS-485 at 115.5K, a filter of 40000.
void Distinct(ModuleSettings& s, PointTable& points)
{
    s.ConfigModuleName = QStringLiteral("Yard, North");
    s.ConfigPlcId = QStringLiteral(" 12");
    s.ConfigEventDelay = QStringLiteral(" 370");
    s.ConfigSyncMaster = Check::Checked;
    s.ConfigHourTimeUpdate = Check::Checked;
    s.ConfigModbus232Baud = 6;
    s.ConfigModbus232Parity = 2;
    s.ConfigModbus232Delay = QStringLiteral(" 4");
    s.ConfigModbus232Protocol = 1;
    s.ConfigModbus485Baud = 9;
    s.ConfigModbus485Parity = 0;
    s.ConfigModbus485Delay = QStringLiteral(" 15");
    s.ConfigModbus485Protocol = 1;
    s.ConfigEventBufferType = 3;
    s.ConfigTcpipMode = TcpipMode::Dhcp;
    s.ConfigTcpipIp = {QStringLiteral(" 127"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 1")};
    s.ConfigTcpipSubnet = {QStringLiteral(" 255"), QStringLiteral(" 255"), QStringLiteral(" 0"), QStringLiteral(" 0")};
    s.ConfigTcpipGateway = {QStringLiteral(" 10"), QStringLiteral(" 1"), QStringLiteral(" 2"), QStringLiteral(" 254")};
    s.chooseTcpipSpeed(TcpipSpeed::Mbps10);
    s.ConfigTcpipEthernetComm = EthernetComm::Half;
    s.TsDstLocation = 4;
    s.TsDstStartMonth = QStringLiteral(" 3");
    s.TsDstStartDay = QStringLiteral(" 9");
    s.TsDstStartHour = QStringLiteral(" 2");
    s.TsDstStopMonth = QStringLiteral(" 10");
    s.TsDstStopDay = QStringLiteral(" 26");
    s.TsDstStopHour = QStringLiteral(" 3");
    s.TsToGpsOffset = QStringLiteral("-6");
    s.TsToIrigOffset = QStringLiteral(" 1");
    s.TsIeee1344 = Check::Checked;
    for (int p = 0; p < PointCount; ++p) {
        PointSettings& pt = points[std::size_t(p)];
        pt.SsPcFilter = quint16(p == 3 ? 40000 : 100 + p);
        pt.SsPcDebounce = quint16(p == 4 ? 65535 : 7 + p);
        pt.SsPcChatter = qint16(-p);
        pt.SsPcDisabled = p % 2 == 1;
        pt.SsPcDescription = QStringLiteral("Bay %1, feeder A").arg(p + 1);
        pt.SsPcOff = QStringLiteral("Open, %1").arg(p);
        pt.SsPcOn = QStringLiteral("Closed");
    }
}

// A window's model without controls: nothing is ever sent.
struct FileRig {
    FileRig() { model.startUp(); }

    QString path(const QString& name = QStringLiteral("settings.csv")) const { return dir.filePath(name); }
    void write(const QByteArray& bytes, const QString& name = QStringLiteral("settings.csv")) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray contents(const QString& name = QStringLiteral("settings.csv")) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool open(const QString& name = QStringLiteral("settings.csv"))
    {
        return OpenSettingsFile(model, path(name), sink);
    }
    bool save(const QString& name = QStringLiteral("settings.csv"))
    {
        return SaveSettingsFile(model, path(name), sink);
    }
    QStringList texts() const
    {
        QStringList t;
        for (const UserMessage& m : messages)
            t << m.text;
        return t;
    }

    QTemporaryDir dir;
    ChronelModel model;
    std::vector<UserMessage> messages;
    MessageSink sink = [this](const UserMessage& m) { messages.push_back(m); };
};

QByteArray DistinctFile()
{
    ModuleSettings s;
    PointTable points{};
    Distinct(s, points);
    return SettingsFileText(s, points);
}

QList<QByteArray> Lines(const QByteArray& file)
{
    QList<QByteArray> lines = file.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& l : lines) {
        if (l.endsWith('\r'))
            l.chop(1);
    }
    return lines;
}

QByteArray JoinLines(const QList<QByteArray>& lines)
{
    QByteArray out;
    for (const QByteArray& l : lines)
        out += l + "\r\n";
    return out;
}

// DistinctFile() with line `index` (0-based) replaced.
QByteArray WithLine(int index, const QByteArray& line)
{
    QList<QByteArray> lines = Lines(DistinctFile());
    lines[index] = line;
    return JoinLines(lines);
}

// Replaces the first field (the key) of a line.
QByteArray WithKey(int index, const QByteArray& key)
{
    QList<QByteArray> lines = Lines(DistinctFile());
    const QByteArray line = lines[index];
    const int comma = line.indexOf("\",") + 1;
    lines[index] = key + line.mid(comma);
    return JoinLines(lines);
}

void ExpectSame(const ModuleSettings& got, const ModuleSettings& want)
{
    EXPECT_TRUE(got == want);
    for (const TextFieldBinding& f : TextFields())
        EXPECT_EQ(got.*f.member, want.*f.member) << f.control;
    for (const CheckBinding& c : CheckBoxes())
        EXPECT_EQ(got.*c.member, want.*c.member) << c.control;
    for (const ListBinding& l : Lists())
        EXPECT_EQ(got.*l.member, want.*l.member) << l.control;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(got.ConfigTcpipIp[std::size_t(i)], want.ConfigTcpipIp[std::size_t(i)]);
        EXPECT_EQ(got.ConfigTcpipSubnet[std::size_t(i)], want.ConfigTcpipSubnet[std::size_t(i)]);
        EXPECT_EQ(got.ConfigTcpipGateway[std::size_t(i)], want.ConfigTcpipGateway[std::size_t(i)]);
    }
}

void ExpectSamePoints(const PointTable& got, const PointTable& want)
{
    for (int p = 0; p < PointCount; ++p)
        EXPECT_TRUE(got[std::size_t(p)] == want[std::size_t(p)]) << "point " << p + 1;
}

// ---- writing -----------------------------------------------------------

TEST(SettingsFileSave, SavedAndReopenedReproducesEveryStoredSetting)
{
    FileRig a;
    Distinct(a.model.settings(), a.model.points());
    a.model.loadPointPage();
    ASSERT_TRUE(a.save());
    EXPECT_TRUE(a.messages.empty());

    FileRig b;
    b.write(a.contents());
    ASSERT_TRUE(b.open());
    EXPECT_TRUE(b.messages.empty()) << b.texts().join(QStringLiteral(" | ")).toStdString();
    ExpectSame(b.model.settings(), a.model.settings());
    ExpectSamePoints(b.model.points(), a.model.points());
    EXPECT_EQ(b.model.settings().ConfigModbus485Baud, 9); // "115.5K"
    EXPECT_EQ(b.model.points()[3].SsPcFilter, 40000);
}

TEST(SettingsFileSave, WritesFiftyOneRecordsEndedByCrLf)
{
    const QByteArray file = DistinctFile();
    EXPECT_EQ(file.count("\r\n"), SettingsRecordCount);
    EXPECT_TRUE(file.endsWith("\"IEEE 1344\",\"True\"\r\n"));
    EXPECT_EQ(file.count('\n'), SettingsRecordCount);
    EXPECT_EQ(file.count('\r'), SettingsRecordCount);
    EXPECT_TRUE(file.startsWith("\"Module Name\",\"Yard, North\"\r\n\"PLC ID\",12\r\n"));
}

struct LineCase {
    int line; // 0-based
    const char* text;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << "line " << c.line + 1; }

class SettingsFileLines : public ::testing::TestWithParam<LineCase> { };

TEST_P(SettingsFileLines, FieldsAreWrittenByTheRules)
{
    // The start-up screen with a few fields changed.
    FileRig rig;
    ModuleSettings& s = rig.model.settings();
    PointTable& points = rig.model.points();
    s.ConfigModuleName = QStringLiteral("Yard, North");
    s.ConfigPlcId = QStringLiteral("12.5abc");
    s.ConfigSyncMaster = Check::Grey;
    s.ConfigHourTimeUpdate = Check::Checked;
    s.ConfigModbus232Parity = 0;
    s.ConfigModbus485Baud = 9;
    s.ConfigTcpipEthernetComm = EthernetComm::Full;
    s.TsDstStartMonth = QStringLiteral("3");
    s.TsDstStartDay = QStringLiteral(" 14");
    s.TsDstStartHour = QStringLiteral("2.0");
    s.TsToGpsOffset = QStringLiteral("-5");
    s.TsToIrigOffset = QStringLiteral("1e2");
    points[1].SsPcFilter = 40000;
    points[1].SsPcDisabled = true;
    points[1].SsPcChatter = -32768;
    points[2].SsPcDescription = QStringLiteral("caf\u00e9 \u20ac");
    const QList<QByteArray> lines = Lines(SettingsFileText(s, points));
    ASSERT_EQ(lines.size(), SettingsRecordCount);
    EXPECT_EQ(lines[GetParam().line], QByteArray(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Records, SettingsFileLines,
    ::testing::Values(LineCase{0, "\"Module Name\",\"Yard, North\""}, LineCase{1, "\"PLC ID\",12.5"},
        LineCase{2, "\"Event Delay\",0"}, LineCase{3, "\"Sync Master\",\"False\""},
        LineCase{4, "\"Hour Time Update\",\"True\""}, LineCase{5, "\"Modbus RS-232\",\"9600\",\"None\",0,\"RTU\""},
        LineCase{6, "\"Modbus RS-485\",\"115.5K\",\"Even\",0,\"RTU\""}, LineCase{7, "\"Event Buffer Type\",2"},
        LineCase{8, "\"TCP/IP Address\",\"Manual\""}, LineCase{9, "\"IP Address\",192,168,16,140"},
        LineCase{10, "\"Subnet Address\",0,0,0,0"}, LineCase{12, "\"TCP/IP Speed\",\"Auto\",\"Full\""},
        LineCase{13, "\"Daylight Saving Time Location\",-1"}, LineCase{14, "\"Daylight Saving Time Start\",3,14,2"},
        LineCase{15, "\"Daylight Saving Time Stop\",0,0,0"}, LineCase{16, "\"GPS Offset\",-5"},
        LineCase{17, "\"IRIG-B Offset\",100"},
        LineCase{18, "\"Point  1\",\"False\",20,20,0,\"Point  1\",\"Off\",\"On\""},
        LineCase{19, "\"Point  2\",\"True\",40000,20,-32768,\"Point  2\",\"Off\",\"On\""},
        LineCase{20, "\"Point  3\",\"False\",20,20,0,\"caf\xe9 ?\",\"Off\",\"On\""},
        LineCase{49, "\"Point  32\",\"False\",20,20,0,\"Point  32\",\"Off\",\"On\""},
        LineCase{50, "\"IEEE 1344\",\"False\""}));

TEST(SettingsFileSave, TheRowsOnScreenAreStoredFirst)
{
    FileRig rig;
    rig.model.page().row(0).SsPcFilter = QStringLiteral("77");
    rig.model.page().row(1).SsPcEnable = Check::Unchecked;
    ASSERT_TRUE(rig.save());
    const QList<QByteArray> lines = Lines(rig.contents());
    EXPECT_EQ(lines[18], "\"Point  1\",\"False\",77,20,0,\"Point  1\",\"Off\",\"On\"");
    EXPECT_EQ(lines[19], "\"Point  2\",\"True\",20,20,0,\"Point  2\",\"Off\",\"On\"");
    EXPECT_EQ(rig.model.points()[0].SsPcFilter, 77);
}

TEST(SettingsFileSave, DoubleQuotesBecomeApostrophesWithOneWarning)
{
    FileRig a;
    Distinct(a.model.settings(), a.model.points());
    a.model.settings().ConfigModuleName = QStringLiteral("The \"old\" yard");
    a.model.points()[6].SsPcDescription = QStringLiteral("Say \"hi\", then \"bye\"");
    a.model.points()[7].SsPcOn = QStringLiteral("two\r\nlines");
    a.model.loadPointPage();
    ASSERT_TRUE(a.save());
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_EQ(a.messages[0].title, QStringLiteral("File Save"));
    EXPECT_EQ(a.messages[0].text, CharactersReplacedText());
    EXPECT_EQ(a.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_EQ(Lines(a.contents()).size(), SettingsRecordCount);

    FileRig b;
    b.write(a.contents());
    ASSERT_TRUE(b.open());
    EXPECT_TRUE(b.messages.empty()) << b.texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(b.model.settings().ConfigModuleName, QStringLiteral("The 'old' yard"));
    EXPECT_EQ(b.model.points()[6].SsPcDescription, QStringLiteral("Say 'hi', then 'bye'"));
    EXPECT_EQ(b.model.points()[7].SsPcOn, QStringLiteral("two  lines"));
    // Everything else read back as it was.
    PointTable want = a.model.points();
    want[6].SsPcDescription = b.model.points()[6].SsPcDescription;
    want[7].SsPcOn = b.model.points()[7].SsPcOn;
    ExpectSamePoints(b.model.points(), want);
    EXPECT_EQ(b.model.settings().TsToGpsOffset, a.model.settings().TsToGpsOffset);
}

// Writes beyond this process's file size limit fail with EFBIG, which a full
// disk would produce too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
    bool ok_ = false;
};

TEST(SettingsFileSave, AFailedWriteLeavesTheOldFileIntact)
{
    FileRig rig;
    const QByteArray old = DistinctFile();
    rig.write(old);
    {
        FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.ok());
        EXPECT_FALSE(rig.save());
    }
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0],
        (UserMessage{QStringLiteral("File Save"), QStringLiteral("File Save Error"), platform::MessageIcon::Critical}));
    EXPECT_EQ(rig.contents(), old);
    // No half-written file left beside it.
    EXPECT_EQ(QDir(rig.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("settings.csv")});
}

// A link planted at the name (in a shared folder) would have the settings
// written over the file it points to.
TEST(SettingsFileSave, ALinkAtTheNameIsReplacedNotWrittenThrough)
{
    FileRig rig;
    rig.write("precious", QStringLiteral("victim"));
    ASSERT_TRUE(QFile::link(rig.path(QStringLiteral("victim")), rig.path()));
    ASSERT_TRUE(rig.save());
    EXPECT_EQ(rig.contents(QStringLiteral("victim")), "precious");
    EXPECT_FALSE(QFileInfo(rig.path()).isSymLink());
    EXPECT_EQ(rig.contents().count("\r\n"), SettingsRecordCount);
}

TEST(SettingsFileSave, AFolderThatDoesNotExistGivesFileSaveError)
{
    FileRig rig;
    EXPECT_FALSE(rig.save(QStringLiteral("missing/settings.csv")));
    EXPECT_EQ(rig.texts(), QStringList{QStringLiteral("File Save Error")});
}

// ---- reading: key checks -------------------------------------------------

struct KeyCase {
    const char* name;
    int line;
    QString message;
    // Takes the record's settings back from `before` into `want`.
    std::function<void(
        ModuleSettings& want, PointTable& wantPoints, const ModuleSettings& before, const PointTable& beforePoints)>
        keep;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

QString PointMessage(int p, const QString& actual)
{
    return QStringLiteral("Point  %1 Invalid\rExpected: Point  %1, Enable, Filter, Debounce, Chatter, Point "
                          "Description, Off Description, On Description\rActual: ")
               .arg(p) +
        actual;
}

using S = ModuleSettings;
using P = PointTable;

class SettingsFileKeys : public ::testing::TestWithParam<KeyCase> { };

TEST_P(SettingsFileKeys, AWrongKeyIsReportedAndItsRecordSkipped)
{
    const KeyCase& c = GetParam();
    FileRig rig;
    rig.write(WithKey(c.line, "\"Wrong\""));
    const ModuleSettings before = rig.model.settings();
    const PointTable beforePoints = rig.model.points();
    ASSERT_TRUE(rig.open());

    ModuleSettings want;
    PointTable wantPoints{};
    Distinct(want, wantPoints);
    // What the file does not store stays as the screen had it.
    want.ConfigLock = before.ConfigLock;
    c.keep(want, wantPoints, before, beforePoints);
    ExpectSame(rig.model.settings(), want);
    ExpectSamePoints(rig.model.points(), wantPoints);
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0].title, QStringLiteral("File Open"));
    EXPECT_EQ(rig.messages[0].icon, platform::MessageIcon::Critical);
    EXPECT_EQ(rig.messages[0].text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SettingsFileKeys,
    ::testing::Values(
        KeyCase{"ModuleName", 0, QStringLiteral("Module Name Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigModuleName = b.ConfigModuleName; }},
        KeyCase{"PlcId", 1, QStringLiteral("PLC ID Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigPlcId = b.ConfigPlcId; }},
        KeyCase{"EventDelay", 2, QStringLiteral("Event Delay Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigEventDelay = b.ConfigEventDelay; }},
        KeyCase{"SyncMaster", 3, QStringLiteral("Sync Master Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigSyncMaster = b.ConfigSyncMaster; }},
        KeyCase{"HourTimeUpdate", 4, QStringLiteral("Hourly Time Update Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigHourTimeUpdate = b.ConfigHourTimeUpdate; }},
        KeyCase{"ModbusRs232", 5, QStringLiteral("Modbus 232 Baud Settings Invalid"),
                [](S& w, P&, const S& b, const P&) {
                    w.ConfigModbus232Baud = b.ConfigModbus232Baud;
                    w.ConfigModbus232Parity = b.ConfigModbus232Parity;
                    w.ConfigModbus232Delay = b.ConfigModbus232Delay;
                    w.ConfigModbus232Protocol = b.ConfigModbus232Protocol;
                }},
        KeyCase{"ModbusRs485", 6, QStringLiteral("Modbus 485 Baud Settings Invalid"),
                [](S& w, P&, const S& b, const P&) {
                    w.ConfigModbus485Baud = b.ConfigModbus485Baud;
                    w.ConfigModbus485Parity = b.ConfigModbus485Parity;
                    w.ConfigModbus485Delay = b.ConfigModbus485Delay;
                    w.ConfigModbus485Protocol = b.ConfigModbus485Protocol;
                }},
        KeyCase{"EventBufferType", 7, QStringLiteral("Event Buffer Type Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigEventBufferType = b.ConfigEventBufferType; }},
        KeyCase{"TcpipAddress", 8, QStringLiteral("TPC/IP Address Setting Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigTcpipMode = b.ConfigTcpipMode; }},
        KeyCase{"IpAddress", 9, QStringLiteral("IP Address Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigTcpipIp = b.ConfigTcpipIp; }},
        KeyCase{"SubnetAddress", 10, QStringLiteral("Subnet Address Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigTcpipSubnet = b.ConfigTcpipSubnet; }},
        KeyCase{"GatewayAddress", 11, QStringLiteral("Gateway Address Invalid"),
                [](S& w, P&, const S& b, const P&) { w.ConfigTcpipGateway = b.ConfigTcpipGateway; }},
        KeyCase{"TcpipSpeed", 12,
                QStringLiteral("TPC/IP Speed Setting Invalid\rExpected: TCP/IP Speed, Auto / 10 / 100, Full / "
                               "Half\rActual: Wrong, 10"),
                [](S& w, P&, const S& b, const P&) {
                    w.ConfigTcpipSpeed = b.ConfigTcpipSpeed;
                    w.ConfigTcpipEthernetComm = b.ConfigTcpipEthernetComm;
                    w.ConfigTcpipEthernetCommEnabled = b.ConfigTcpipEthernetCommEnabled;
                }},
        KeyCase{"DstStart", 14, QStringLiteral("Daylight Saving Time Start Invalid"),
                [](S& w, P&, const S& b, const P&) {
                    w.TsDstStartMonth = b.TsDstStartMonth;
                    w.TsDstStartDay = b.TsDstStartDay;
                    w.TsDstStartHour = b.TsDstStartHour;
                }},
        KeyCase{"DstStop", 15, QStringLiteral("Daylight Saving Time Stop Invalid"),
                [](S& w, P&, const S& b, const P&) {
                    w.TsDstStopMonth = b.TsDstStopMonth;
                    w.TsDstStopDay = b.TsDstStopDay;
                    w.TsDstStopHour = b.TsDstStopHour;
                }},
        KeyCase{"GpsOffset", 16, QStringLiteral("GPS Offset Invalid"),
                [](S& w, P&, const S& b, const P&) { w.TsToGpsOffset = b.TsToGpsOffset; }},
        KeyCase{"IrigOffset", 17, QStringLiteral("IRIG-B Offset Invalid"),
                [](S& w, P&, const S& b, const P&) { w.TsToIrigOffset = b.TsToIrigOffset; }},
        KeyCase{"Point1", 18,
                PointMessage(1, QStringLiteral("Wrong, False,  100,  7,  0, Bay 1, feeder A, Open, 0, Closed")),
                [](S&, P& w, const S&, const P& b) { w[0] = b[0]; }},
        KeyCase{"Point5", 22,
                PointMessage(5, QStringLiteral("Wrong, False,  104,  65535, -4, Bay 5, feeder A, Open, 4, Closed")),
                [](S&, P& w, const S&, const P& b) { w[4] = b[4]; }},
        KeyCase{"Point32", 49,
                PointMessage(32, QStringLiteral("Wrong, True,  131,  38, -31, Bay 32, feeder A, Open, 31, Closed")),
                [](S&, P& w, const S&, const P& b) { w[31] = b[31]; }},
        KeyCase{"Ieee1344", 50, QStringLiteral("IEEE 1344 Invalid"),
                [](S& w, P&, const S& b, const P&) { w.TsIeee1344 = b.TsIeee1344; }}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST(SettingsFileOpen, AFirstKeyOtherThanModuleNameGoesOnWithPlcId)
{
    FileRig rig;
    rig.write(WithKey(0, "\"Module\""));
    ASSERT_TRUE(rig.open());
    EXPECT_EQ(rig.texts(), QStringList{QStringLiteral("Module Name Invalid")});
    EXPECT_EQ(rig.model.settings().ConfigPlcId, QStringLiteral(" 12"));
}

TEST(SettingsFileOpen, APointKeyWithASingleBlankIsRejectedWithThreeLines)
{
    FileRig rig;
    rig.write(WithLine(24, "\"Point 7\",\"False\",20,20,0,\"Point 7\",\"Off\",\"On\""));
    const PointSettings before = rig.model.points()[6];
    ASSERT_TRUE(rig.open());
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0].text,
        QStringLiteral("Point  7 Invalid\rExpected: Point  7, Enable, Filter, Debounce, Chatter, Point "
                       "Description, Off Description, On Description\rActual: Point 7, False,  20,  20,  0, "
                       "Point 7, Off, On"));
    EXPECT_EQ(rig.messages[0].text.split(QLatin1Char('\r')).size(), 3);
    EXPECT_TRUE(rig.model.points()[6] == before);
    EXPECT_EQ(rig.model.points()[7].SsPcDescription, QStringLiteral("Bay 8, feeder A"));
}

TEST(SettingsFileOpen, TheDstLocationKeyIsNotCompared)
{
    FileRig rig;
    rig.write(WithLine(13, "\"DST\",2"));
    ASSERT_TRUE(rig.open());
    EXPECT_TRUE(rig.messages.empty());
    EXPECT_EQ(rig.model.settings().TsDstLocation, 2);
}

// ---- reading: values -----------------------------------------------------

struct FlagCase {
    const char* name;
    int line;
    const char* text;
    QString message;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }

class SettingsFileFlags : public ::testing::TestWithParam<FlagCase> { };

TEST_P(SettingsFileFlags, AValueOtherThanTrueOrFalseLeavesTheBox)
{
    const FlagCase& c = GetParam();
    FileRig rig;
    rig.write(WithLine(c.line, c.text));
    const ModuleSettings before = rig.model.settings();
    const PointTable beforePoints = rig.model.points();
    ASSERT_TRUE(rig.open());
    EXPECT_EQ(rig.texts(), QStringList{c.message});

    ModuleSettings want;
    PointTable wantPoints{};
    Distinct(want, wantPoints);
    want.ConfigLock = before.ConfigLock;
    want.ConfigSyncMaster = c.line == 3 ? before.ConfigSyncMaster : want.ConfigSyncMaster;
    want.ConfigHourTimeUpdate = c.line == 4 ? before.ConfigHourTimeUpdate : want.ConfigHourTimeUpdate;
    want.TsIeee1344 = c.line == 50 ? before.TsIeee1344 : want.TsIeee1344;
    if (c.line == 19) {
        // The rest of the point's record is taken; only the flag stays.
        wantPoints[1].SsPcDisabled = beforePoints[1].SsPcDisabled;
        wantPoints[1].SsPcFilter = 55;
    }
    ExpectSame(rig.model.settings(), want);
    ExpectSamePoints(rig.model.points(), wantPoints);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsFileFlags,
    ::testing::Values(FlagCase{"SyncMasterYes", 3, "\"Sync Master\",\"Yes\"", QStringLiteral("Sync Master Invalid")},
        FlagCase{"SyncMasterLowerCase", 3, "\"Sync Master\",\"true\"", QStringLiteral("Sync Master Invalid")},
        FlagCase{"HourTimeUpdateOne", 4, "\"Hour Time Update\",1", QStringLiteral("Hourly Time Update Invalid")},
        FlagCase{"Ieee1344Empty", 50, "\"IEEE 1344\",", QStringLiteral("IEEE 1344 Invalid")},
        FlagCase{"PointEnableFalsch", 19, "\"Point  2\",\"Falsch\",55,8,-1,\"Bay 2, feeder A\",\"Open, 1\",\"Closed\"",
            QStringLiteral("Point  2 Enable Invalid")}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.name); });

// Opens DistinctFile() with one line replaced into a fresh window.
struct OneLine {
    OneLine(int line, const char* text)
    {
        rig.write(WithLine(line, text));
        opened = rig.open();
    }
    FileRig rig;
    bool opened = false;
    const ModuleSettings& s() const { return rig.model.settings(); }
    const PointTable& p() const { return rig.model.points(); }
};

TEST(SettingsFileOpen, EventBufferTypeOutsideZeroToThreeSelectsTypeTwo)
{
    const std::pair<const char*, int> cases[] = {{"\"Event Buffer Type\",7", 2}, {"\"Event Buffer Type\",0", 0},
        {"\"Event Buffer Type\",3", 3}, {"\"Event Buffer Type\",-1", 2}, {"\"Event Buffer Type\",1.4", 1},
        {"\"Event Buffer Type\",", 0}};
    for (const auto& [line, type] : cases) {
        OneLine o(7, line);
        EXPECT_TRUE(o.opened) << line;
        EXPECT_EQ(o.s().ConfigEventBufferType, type) << line;
        EXPECT_TRUE(o.rig.messages.empty()) << line;
    }
}

TEST(SettingsFileOpen, IpModeAndSpeedTextsSelectTheirOptions)
{
    OneLine stat(8, "\"TCP/IP Address\",\"Static\"");
    EXPECT_EQ(stat.s().ConfigTcpipMode, TcpipMode::Manual);
    OneLine bootp(8, "\"TCP/IP Address\",\"Boot P\"");
    EXPECT_EQ(bootp.s().ConfigTcpipMode, TcpipMode::BootP);

    OneLine gigabit(12, "\"TCP/IP Speed\",\"1000\",\"Half\"");
    EXPECT_EQ(gigabit.s().ConfigTcpipSpeed, TcpipSpeed::AutoNegotiate);
    EXPECT_FALSE(gigabit.s().ConfigTcpipEthernetCommEnabled);
    EXPECT_EQ(gigabit.s().ConfigTcpipEthernetComm, EthernetComm::Half);
    OneLine fast(12, "\"TCP/IP Speed\",\"100\",\"half\"");
    EXPECT_EQ(fast.s().ConfigTcpipSpeed, TcpipSpeed::Mbps100);
    EXPECT_TRUE(fast.s().ConfigTcpipEthernetCommEnabled);
    EXPECT_EQ(fast.s().ConfigTcpipEthernetComm, EthernetComm::Full);
}

TEST(SettingsFileOpen, SerialTextsFallBackToTheirDefaults)
{
    OneLine o(5, "\"Modbus RS-232\",\"19200\",\"even\",5,\"rtu\"");
    EXPECT_EQ(o.s().ConfigModbus232Baud, 5);
    EXPECT_EQ(o.s().ConfigModbus232Parity, 1);
    EXPECT_EQ(o.s().ConfigModbus232Delay, QStringLiteral(" 5"));
    EXPECT_EQ(o.s().ConfigModbus232Protocol, 0);
    OneLine exact(6, "\"Modbus RS-485\",\"19.2K\",\"Odd\",0,\"ASCII\"");
    EXPECT_EQ(exact.s().ConfigModbus485Baud, 6);
    EXPECT_EQ(exact.s().ConfigModbus485Parity, 2);
    EXPECT_EQ(exact.s().ConfigModbus485Delay, QStringLiteral(" 0"));
    EXPECT_EQ(exact.s().ConfigModbus485Protocol, 1);
}

TEST(SettingsFileOpen, NumbersGoIntoTextFieldsByTheNumberRule)
{
    OneLine o(1, "\"PLC ID\",12.5");
    EXPECT_EQ(o.s().ConfigPlcId, QStringLiteral(" 12.5"));
    OneLine neg(16, "\"GPS Offset\",-5");
    EXPECT_EQ(neg.s().TsToGpsOffset, QStringLiteral("-5"));
    OneLine ip(9, "\"IP Address\", 127 ,0,0,\"1\"");
    EXPECT_EQ(ip.s().ConfigTcpipIp,
        (OctetFields{QStringLiteral(" 127"), QStringLiteral(" 0"), QStringLiteral(" 0"), QStringLiteral(" 1")}));
}

TEST(SettingsFileOpen, OldFilesWithNegativeFiltersAreReadAsUnsigned)
{
    OneLine o(20, "\"Point  3\",\"False\",-25536,-1,-5,\"d\",\"off\",\"on\"");
    EXPECT_TRUE(o.rig.messages.empty());
    EXPECT_EQ(o.p()[2].SsPcFilter, 40000);
    EXPECT_EQ(o.p()[2].SsPcDebounce, 65535);
    EXPECT_EQ(o.p()[2].SsPcChatter, -5);
    EXPECT_EQ(o.p()[2].SsPcDescription, QStringLiteral("d"));

    OneLine wide(20, "\"Point  3\",\"True\",70000,-40000,40000,\"d\",\"off\",\"on\"");
    EXPECT_EQ(wide.p()[2].SsPcFilter, 65535);
    EXPECT_EQ(wide.p()[2].SsPcDebounce, 0);
    EXPECT_EQ(wide.p()[2].SsPcChatter, 32767);
    EXPECT_TRUE(wide.p()[2].SsPcDisabled);

    OneLine halves(20, "\"Point  3\",\"False\",20.5,21.5,-2.5,\"d\",\"off\",\"on\"");
    EXPECT_EQ(halves.p()[2].SsPcFilter, 20);
    EXPECT_EQ(halves.p()[2].SsPcDebounce, 22);
    EXPECT_EQ(halves.p()[2].SsPcChatter, -2);
}

// ---- reading: run-time errors ----------------------------------------------

struct StopCase {
    const char* name;
    std::function<QByteArray()> file;
    int recordsApplied; // records of DistinctFile() that must be in effect
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

QByteArray FirstLines(int n, const QByteArray& tail = {})
{
    QList<QByteArray> lines = Lines(DistinctFile());
    return JoinLines(lines.mid(0, n)) + tail;
}

class SettingsFileStops : public ::testing::TestWithParam<StopCase> { };

TEST_P(SettingsFileStops, EarlierRecordsStayAppliedAndTheRestIsNotRead)
{
    const StopCase& c = GetParam();
    FileRig rig;
    rig.model.showPointPage(8);
    rig.write(c.file());
    const ModuleSettings before = rig.model.settings();
    const PointTable beforePoints = rig.model.points();
    EXPECT_FALSE(rig.open());
    ASSERT_FALSE(rig.messages.empty());
    EXPECT_EQ(rig.messages.back(),
        (UserMessage{QStringLiteral("File Open"), QStringLiteral("File Open Error"), platform::MessageIcon::Critical}));
    EXPECT_EQ(rig.messages.size(), 1u) << rig.texts().join(QStringLiteral(" | ")).toStdString();

    // Apply exactly the first records of the distinct file to what the
    // screen had, by reading those lines alone: that file ends early too.
    ModuleSettings want;
    PointTable wantPoints{};
    Distinct(want, wantPoints);
    const int n = c.recordsApplied;
    if (n < 18) {
        // Record k (0-based) applies the settings of its line only; check the
        // records by their most telling field.
        EXPECT_EQ(rig.model.settings().ConfigModuleName, n > 0 ? want.ConfigModuleName : before.ConfigModuleName);
        EXPECT_EQ(rig.model.settings().ConfigPlcId, n > 1 ? want.ConfigPlcId : before.ConfigPlcId);
        EXPECT_EQ(
            rig.model.settings().ConfigModbus232Baud, n > 5 ? want.ConfigModbus232Baud : before.ConfigModbus232Baud);
        EXPECT_EQ(rig.model.settings().ConfigModbus232Parity,
            n > 5 ? want.ConfigModbus232Parity : before.ConfigModbus232Parity);
        EXPECT_EQ(rig.model.settings().ConfigEventBufferType,
            n > 7 ? want.ConfigEventBufferType : before.ConfigEventBufferType);
        EXPECT_EQ(rig.model.settings().TsDstStartMonth, n > 14 ? want.TsDstStartMonth : before.TsDstStartMonth);
    } else {
        for (int p = 0; p < PointCount; ++p) {
            const bool applied = 18 + p < n;
            EXPECT_TRUE(rig.model.points()[std::size_t(p)] ==
                (applied ? wantPoints[std::size_t(p)] : beforePoints[std::size_t(p)]))
                << "point " << p + 1;
        }
        EXPECT_EQ(rig.model.settings().ConfigModuleName, want.ConfigModuleName);
        EXPECT_EQ(rig.model.settings().TsToIrigOffset, want.TsToIrigOffset);
    }
    EXPECT_EQ(rig.model.settings().TsIeee1344, before.TsIeee1344);
    // The page shows the table as it now is (top 8: points 9 … 16).
    EXPECT_EQ(rig.model.page().row(0).SsPcFilter, QStringLiteral(" %1").arg(rig.model.points()[8].SsPcFilter));
    EXPECT_EQ(rig.model.page().row(0).SsPcDescription, rig.model.points()[8].SsPcDescription);
}

const QByteArray HugeLine = QByteArray(200000, 'x');

INSTANTIATE_TEST_SUITE_P(Files, SettingsFileStops,
    ::testing::Values(StopCase{"CutAfterRecord30", [] { return FirstLines(30); }, 30},
        StopCase{"CutInsideRecord31", [] { return FirstLines(30, "\"Point  13\",\"False\",20"); }, 30},
        StopCase{"CutAfterRecord50", [] { return FirstLines(50); }, 50},
        StopCase{"EmptyFile", [] { return QByteArray(); }, 0},
        StopCase{"PlcIdNotANumber", [] { return FirstLines(1, "\"PLC ID\",abc\r\n"); }, 1},
        StopCase{"FilterNotANumber",
            [] { return FirstLines(26, "\"Point  9\",\"False\",\"Off\",20,0,\"d\",\"off\",\"on\"\r\n"); }, 26},
        StopCase{"NumberTooLargeForADouble", [] { return FirstLines(2, "\"Event Delay\",1e999\r\n"); }, 2},
        StopCase{
            "DstLocationOutsideTheList", [] { return FirstLines(13, "\"Daylight Saving Time Location\",6\r\n"); }, 13},
        // Rates of the RS-485 list alone; the rest of the file follows, so
        // only the stop keeps it from being read.
        StopCase{"Rs232At38400", [] { return WithLine(5, "\"Modbus RS-232\",\"38.4K\",\"None\",0,\"RTU\""); }, 5},
        StopCase{"Rs232At57600", [] { return WithLine(5, "\"Modbus RS-232\",\"57.6K\",\"None\",0,\"RTU\""); }, 5},
        StopCase{"Rs232At115500", [] { return WithLine(5, "\"Modbus RS-232\",\"115.5K\",\"None\",0,\"RTU\""); }, 5},
        StopCase{"DstLocationBelowNone", [] { return FirstLines(13, "\"Daylight Saving Time Location\",-2\r\n"); }, 13},
        StopCase{"LineTooLong", [] { return FirstLines(20, "\"Point  3\",\"" + HugeLine + "\"\r\n"); }, 20},
        StopCase{"UnterminatedQuoteAtTheEnd", [] { return FirstLines(30, "\"Point  13"); }, 30}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST(SettingsFileOpen, AFileThatCannotBeOpenedChangesNothing)
{
    FileRig rig;
    const ModuleSettings before = rig.model.settings();
    EXPECT_FALSE(rig.open(QStringLiteral("nowhere.csv")));
    EXPECT_EQ(rig.texts(), QStringList{QStringLiteral("File Open Error")});
    EXPECT_TRUE(rig.model.settings() == before);
}

TEST(SettingsFileOpen, AMissingFieldShiftsTheRestWithoutRunningAway)
{
    // The description is missing from point 1's line: its record takes the
    // next line's key as its on text, and every later record is off by one.
    QList<QByteArray> lines = Lines(DistinctFile());
    lines[18] = "\"Point  1\",\"True\",5,5,5,\"d\",\"off\"";
    FileRig rig;
    rig.write(JoinLines(lines));
    EXPECT_FALSE(rig.open());
    EXPECT_EQ(rig.texts().last(), QStringLiteral("File Open Error"));
    EXPECT_EQ(rig.model.points()[0].SsPcOn, QStringLiteral("Point  2"));
    EXPECT_EQ(rig.model.points()[0].SsPcFilter, 5);
}

TEST(SettingsFileOpen, ArbitraryBytesEndInMessagesNotInACrash)
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 40; ++round) {
        QByteArray bytes(qsizetype(random.bounded(1, 20000)), '\0');
        for (char& b : bytes) {
            // Mostly the format's own characters, so that fields form.
            static const char alphabet[] = "\",\r\n 0123456789-.eTrueFalsPoint\0\xff";
            b = random.bounded(4) == 0 ? char(random.bounded(256)) : alphabet[random.bounded(int(sizeof alphabet) - 1)];
        }
        FileRig rig;
        rig.write(bytes);
        rig.open();
        EXPECT_LE(rig.messages.size(), std::size_t(SettingsRecordCount + 1));
        for (const UserMessage& m : rig.messages)
            EXPECT_EQ(m.title, QStringLiteral("File Open"));
    }
}

// ---- the page around Open ---------------------------------------------------

TEST(SettingsFileOpen, ShowsTheTableAtTheCurrentTopAfterReading)
{
    FileRig rig;
    rig.write(DistinctFile());
    rig.model.showPointPage(24);
    ASSERT_TRUE(rig.open());
    EXPECT_EQ(rig.model.page().top(), 24);
    EXPECT_EQ(rig.model.page().row(7).SsPcPointNum, QStringLiteral(" 32"));
    EXPECT_EQ(rig.model.page().row(7).SsPcDescription, QStringLiteral("Bay 32, feeder A"));
    EXPECT_EQ(rig.model.page().row(7).SsPcEnable, Check::Unchecked);
    EXPECT_EQ(rig.model.page().row(0).SsPcChatter, QStringLiteral("-24"));
}

TEST(SettingsFileOpen, ARejectedPointKeepsWhatTheScreenShowed)
{
    FileRig rig;
    rig.write(WithKey(18, "\"Point 1\""));
    rig.model.page().row(0).SsPcDescription = QStringLiteral("Typed, not stored");
    ASSERT_TRUE(rig.open());
    EXPECT_EQ(rig.texts().size(), 1);
    EXPECT_EQ(rig.model.points()[0].SsPcDescription, QStringLiteral("Typed, not stored"));
    EXPECT_EQ(rig.model.page().row(0).SsPcDescription, QStringLiteral("Typed, not stored"));
    EXPECT_EQ(rig.model.page().row(1).SsPcDescription, QStringLiteral("Bay 2, feeder A"));
}

} // namespace
