// The tool's own pure parts: the command line, site files, the console's
// lines, batch file names, the progress bar, trace lines and the report
// lines.
#include "address_list.h"
#include "batch_output.h"
#include "cli_options.h"
#include "command.h"
#include "console.h"
#include "frame_trace_printer.h"
#include "progress_bar.h"
#include "site_run.h"
#include "status_report.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace chronelcli {
namespace {

struct LineCase {
    const char* name;
    QStringList args;
    QString error; // a part of the expected error; empty: accepted
};

// Test names, not bytes, in failure reports.
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class CommandLineTest : public testing::TestWithParam<LineCase> { };

TEST_P(CommandLineTest, AcceptsOrNamesTheProblem)
{
    const ParsedCommandLine parsed = ParseCommandLine(GetParam().args);
    if (GetParam().error.isEmpty())
        EXPECT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    else
        EXPECT_TRUE(parsed.error.contains(GetParam().error)) << parsed.error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest,
    testing::Values(LineCase{"Plain", {"--ip", "127.0.0.1", "status"}, ""},
        LineCase{"EqualsForm", {"--ip=127.0.0.1", "--interval=20", "status"}, ""},
        LineCase{"OptionsAfterCommand", {"status", "--ip", "127.0.0.1", "--trace"}, ""},
        LineCase{"FieldAbove255", {"--ip", "127.0.0.256", "status"}, "not an IPv4 address"},
        LineCase{"ThreeFields", {"--ip", "127.0.1", "status"}, "not an IPv4 address"},
        LineCase{"SignedField", {"--ip", "127.0.0.+1", "status"}, "not an IPv4 address"},
        LineCase{"HostName", {"--ip", "localhost", "status"}, "not an IPv4 address"},
        LineCase{"IpWithoutValue", {"status", "--ip"}, "--ip needs"},
        LineCase{"IntervalZero", {"--ip", "127.0.0.1", "--interval", "0", "status"}, "--interval 0"},
        LineCase{"IntervalText", {"--ip", "127.0.0.1", "--interval", "fast", "status"}, "--interval fast"},
        LineCase{"IntervalTooLong", {"--ip", "127.0.0.1", "--interval", "3600001", "status"}, "--interval"},
        LineCase{"Timeout", {"--ip", "127.0.0.1", "--timeout", "2000", "status"}, ""},
        LineCase{"TimeoutTooShort", {"--ip", "127.0.0.1", "--timeout", "99", "status"}, "--timeout 99"},
        LineCase{"TimeoutAboveTheControlsLimit", {"--ip", "127.0.0.1", "--timeout=32628", "status"}, "--timeout"},
        LineCase{"TcpAndIni", {"--ip", "127.0.0.1", "--tcp", "--ini", "x.ini", "status"}, "exclude"},
        LineCase{"UnknownOption", {"--ip", "127.0.0.1", "--fast", "status"}, "unknown option --fast"}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(CommandLine, KeepsAddressesInOrderAndCommandWordsApart)
{
    const ParsedCommandLine parsed =
        ParseCommandLine({"--ip", "127.0.0.3", "events", "--monitor", "--ip", "127.0.0.2", "--cycles", "2", "--trace"});
    ASSERT_TRUE(parsed.error.isEmpty());
    EXPECT_EQ(parsed.options.addresses, QStringList({"127.0.0.3", "127.0.0.2"}));
    EXPECT_EQ(parsed.options.command, "events");
    EXPECT_EQ(parsed.options.commandArgs, QStringList({"--monitor", "--cycles", "2"}));
    EXPECT_TRUE(parsed.options.trace);
}

// After "--" no word is an option, whether it stands before the command or
// after it: a file named "-a.csv" can be given.
TEST(CommandLine, TheEndOfOptionsReachesTheCommand)
{
    for (const QStringList& args : {QStringList{"--ip", "127.0.0.1", "upload", "--", "-a.csv", "--trace"},
             QStringList{"--ip", "127.0.0.1", "--", "upload", "-a.csv", "--trace"}}) {
        const ParsedCommandLine parsed = ParseCommandLine(args);
        ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
        EXPECT_FALSE(parsed.options.trace);
        EXPECT_EQ(parsed.options.command, "upload");
        EXPECT_EQ(parsed.options.commandArgs, QStringList({"--", "-a.csv", "--trace"}));
        EXPECT_EQ(FindCommand("upload")->create()->parseArguments(parsed.options.commandArgs), "unexpected --trace");
    }
}

TEST(AddressList, TakesAddressesNamesAndCommentsInOrder)
{
    const AddressList site = ParseAddressList(QStringLiteral("# Substation North\n"
                                                             "127.0.0.2   Feeder 2   # replaced\n"
                                                             "\n"
                                                             "  127.0.0.1\tIncomer\n"
                                                             "127.0.0.3\n"),
        QStringLiteral("site.txt"));
    ASSERT_TRUE(site.error.isEmpty()) << site.error.toStdString();
    ASSERT_EQ(site.modules.size(), 3u);
    EXPECT_EQ(site.modules[0].address, "127.0.0.2");
    EXPECT_EQ(site.modules[0].name, "Feeder 2");
    EXPECT_EQ(site.modules[1].address, "127.0.0.1");
    EXPECT_EQ(site.modules[1].name, "Incomer");
    EXPECT_EQ(site.modules[2].name, "");
}

TEST(AddressList, NamesTheFileAndLineOfWhatIsWrong)
{
    const QString file = QStringLiteral("site.txt");
    EXPECT_EQ(ParseAddressList(QStringLiteral("127.0.0.1\n\n127.0.0 Feeder\n"), file).error,
        "site.txt:3: 127.0.0: not an IPv4 address (A.B.C.D)");
    EXPECT_EQ(ParseAddressList(QStringLiteral("127.0.0.1 A\n127.0.0.1 B\n"), file).error,
        "site.txt:2: 127.0.0.1 is already listed on line 1");
    EXPECT_EQ(ParseAddressList(QStringLiteral("# nothing yet\n\n"), file).error, "site.txt: no module addresses");
    EXPECT_TRUE(ParseAddressList(QStringLiteral("127.0.0.1\nbad\n"), file).modules.empty());
}

// A module's own zone, else the file's, else --tz; the stored form of each.
TEST(AddressList, ZonesOfModulesFileAndCommandLine)
{
    const QString file = QStringLiteral("site.txt");
    const AddressList site = ParseAddressList(QStringLiteral("127.0.0.1,tz=+0530  Bay 1\n"
                                                             "tz=Europe/Berlin\n"
                                                             "127.0.0.2,adapter=1,tz=utc\n"
                                                             "127.0.0.3\n"),
        file);
    ASSERT_TRUE(site.error.isEmpty()) << site.error.toStdString();
    ASSERT_EQ(site.modules.size(), 3u);
    EXPECT_EQ(site.modules[0].zone, "+05:30");
    EXPECT_EQ(site.modules[0].name, "Bay 1");
    EXPECT_EQ(site.modules[1].zone, "UTC");
    EXPECT_EQ(site.modules[1].adapter, 1);
    EXPECT_EQ(site.modules[2].zone, "Europe/Berlin");
    EXPECT_EQ(ParseAddressList(QStringLiteral("tz=UTC\n127.0.0.1\ntz=UTC\n"), file).error,
        "site.txt:3: the file's zone is declared on line 1 already");
    EXPECT_TRUE(ParseAddressList(QStringLiteral("127.0.0.1,tz=Mars/Olympus\n"), file)
                    .error.startsWith("site.txt:1: Mars/Olympus: not a time zone"));
    EXPECT_TRUE(ParseAddressList(QStringLiteral("127.0.0.1,tz=UTC,tz=UTC\n"), file).error.contains("given twice"));

    const ParsedCommandLine parsed =
        ParseCommandLine({"--tz", "-03", "--ip", "127.0.0.1", "--ip", "127.0.0.2,tz=Asia/Kolkata", "collect"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(ZoneOf(parsed.options, "127.0.0.1"), "-03:00");
    EXPECT_EQ(ZoneOf(parsed.options, "127.0.0.2"), "Asia/Kolkata");
    EXPECT_EQ(ZoneOf(ParseCommandLine({"--ip", "127.0.0.1", "collect"}).options, "127.0.0.1"), "");
    EXPECT_TRUE(ParseCommandLine({"--tz", "Europe/Nowhere", "--ip", "127.0.0.1", "collect"})
                    .error.startsWith("--tz Europe/Nowhere: not a time zone"));
}

TEST(AddressList, AtFileOnTheCommandLineJoinsTheOtherAddresses)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("site.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("127.0.0.2 Feeder 2\n127.0.0.3\n");
    file.close();

    const ParsedCommandLine parsed =
        ParseCommandLine({"--ip", "127.0.0.1", "--ip", QStringLiteral("@") + path, "status"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.addresses, QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(parsed.options.names.value("127.0.0.2"), "Feeder 2");
    EXPECT_FALSE(parsed.options.names.contains("127.0.0.3"));

    const ParsedCommandLine missing = ParseCommandLine({"--ip", "@" + dir.filePath("none.txt"), "status"});
    EXPECT_TRUE(missing.error.endsWith("none.txt: No such file or directory")) << missing.error.toStdString();
}

TEST(AddressList, AdaptersJobsAndRepeatsOnTheCommandLine)
{
    const ParsedCommandLine parsed =
        ParseCommandLine({"--ip", "127.0.0.1", "--ip", "127.0.0.2,adapter=3", "--jobs", "8", "status"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.adapters.value("127.0.0.2"), 3);
    EXPECT_FALSE(parsed.options.adapters.contains("127.0.0.1"));
    EXPECT_EQ(JobCount(parsed.options), 8);

    QStringList many;
    for (int i = 1; i <= 70; ++i)
        many << "--ip" << QStringLiteral("127.0.0.%1").arg(i);
    EXPECT_EQ(JobCount(ParseCommandLine(many + QStringList{"status"}).options), DefaultJobsLimit);
    EXPECT_EQ(JobCount(ParseCommandLine(many + QStringList{"collect"}).options, true), 70);

    const auto error = [](const QStringList& args) { return ParseCommandLine(args).error.toStdString(); };
    EXPECT_EQ(
        error({"--ip", "127.0.0.1,adapter=8", "status"}), "--ip adapter=8: expected adapter=N with N from 0 to 7");
    EXPECT_EQ(error({"--ip", "127.0.0.1", "--ip", "127.0.0.1,adapter=1", "status"}), "--ip 127.0.0.1: given twice");
    EXPECT_EQ(error({"--ip", "127.0.0.1", "--jobs", "0", "status"}), "--jobs 0: expected a number from 1 to 1024");
    EXPECT_EQ(ParseAddressList(QStringLiteral("127.0.0.1\n127.0.0.2,adapter=x Bay\n"), "site.txt").error,
        "site.txt:2: adapter=x: expected adapter=N with N from 0 to 7");
}

TEST(AddressList, OneModuleIsOneAddressHoweverItIsWritten)
{
    EXPECT_EQ(ParseAddressList(QStringLiteral("127.0.0.1 A\n127.000.000.001 B\n"), "site.txt").error,
        "site.txt:2: 127.0.0.1 is already listed on line 1");
    const AddressList site = ParseAddressList(QStringLiteral("010.000.000.007\n"), "site.txt");
    ASSERT_EQ(site.modules.size(), 1u);
    EXPECT_EQ(site.modules[0].address, "10.0.0.7") << "a leading zero would read as octal";
    EXPECT_EQ(
        ParseCommandLine({"--ip", "127.0.0.1", "--ip", "127.0.0.001", "status"}).error, "--ip 127.0.0.1: given twice");
}

TEST(AddressList, AFileTooLargeToBeASiteIsRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("site.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("127.0.0.1\n# " + QByteArray(1024 * 1024, '-') + "\n");
    file.close();
    EXPECT_EQ(ParseCommandLine({"--ip", "@" + path, "status"}).error,
        QStringLiteral("--ip @%1: %1: larger than 1 MB, too large for this file").arg(path));
}

// Whatever a module's texts hold, each line on the terminal is one line and
// moves nothing: the display's own sequences are the only ones written.
TEST(Console, ControlCharactersInTextsAreShownNotObeyed)
{
    char* outText = nullptr;
    char* errText = nullptr;
    std::size_t outSize = 0;
    std::size_t errSize = 0;
    std::FILE* out = ::open_memstream(&outText, &outSize);
    std::FILE* err = ::open_memstream(&errText, &errSize);
    ASSERT_TRUE(out && err);
    {
        Console console(out, err, false);
        Console module(console, QStringLiteral("127.0.0.1"));
        module.line(QStringLiteral("Point \x1b]0;owned\x07 On\r\n127.0.0.2: forged"));
        module.error(QStringLiteral("Module \x1b[2K\x9b") + QChar(0x9b) + QStringLiteral("1A"));
        console.lines(QStringLiteral("Usage: one\ntwo"));
    }
    std::fclose(out);
    std::fclose(err);
    const std::string outBytes(outText, outSize);
    const std::string errBytes(errText, errSize);
    std::free(outText);
    std::free(errText);
    EXPECT_EQ(outBytes, "127.0.0.1: Point \\x1b]0;owned\\x07 On\\x0d\\x0a127.0.0.2: forged\nUsage: one\ntwo\n");
    EXPECT_EQ(errBytes, "127.0.0.1: Module \\x1b[2K\\x9b\\x9b1A\n");
}

TEST(SiteRun, LanesKeepEachDriverAdapterInTurn)
{
    const std::vector<ModuleJob> modules{
        {"127.0.0.1", {}, 0}, {"127.0.0.2", {}, 1}, {"127.0.0.3", {}, 0}, {"127.0.0.4", {}, 5}, {"127.0.0.5", {}, 1}};
    // Adapters 0 and 1 are serial lines; adapter 5 the control's own TCP.
    const auto lanes = PlanLanes(modules, [](const ModuleJob& m) { return m.adapter != 5; });
    EXPECT_EQ(lanes, (std::vector<std::vector<int>>{{0, 2}, {1, 4}, {3}}));
    EXPECT_EQ(PlanLanes(modules, [](const ModuleJob&) { return false; }).size(), modules.size());
}

TEST(SiteRun, SummaryHasOneAlignedRowPerModuleAndTheWorstStatus)
{
    std::vector<ModuleOutcome> outcomes(3);
    outcomes[0] = {{"127.0.0.1", "North", 0}, true, ExitStatus::Done, 10.25, "Saved a.csv"};
    outcomes[1] = {{"127.0.0.12", {}, 0}, true, ExitStatus::ModuleFailed, 3.0, "timed out"};
    outcomes[2] = {{"127.0.0.3", {}, 0}, false, ExitStatus::ModuleFailed, 0, "interrupted before it started"};
    EXPECT_EQ(SummaryTable(outcomes),
        QStringList({"Address     Name   Result   Seconds  Message", "127.0.0.1   North  done        10.3  Saved a.csv",
            "127.0.0.12         failed       3.0  timed out",
            "127.0.0.3          not run        -  interrupted before it started"}));
    EXPECT_EQ(OverallStatus(outcomes), ExitStatus::ModuleFailed);
    outcomes[1].status = ExitStatus::BadUsage;
    EXPECT_EQ(OverallStatus(outcomes), ExitStatus::BadUsage);
    outcomes.pop_back();
    outcomes[1].status = ExitStatus::Done;
    EXPECT_EQ(OverallStatus(outcomes), ExitStatus::Done);
}

struct ArgumentCase {
    const char* name;
    const char* command;
    QStringList args;
    bool accepted;
};

// Test names, not bytes, in failure reports.
void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class CommandArgumentsTest : public testing::TestWithParam<ArgumentCase> { };

TEST_P(CommandArgumentsTest, ParsesItsOwnWords)
{
    const CommandInfo* info = FindCommand(QString::fromLatin1(GetParam().command));
    ASSERT_NE(info, nullptr);
    const QString error = info->create()->parseArguments(GetParam().args);
    EXPECT_EQ(error.isEmpty(), GetParam().accepted) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, CommandArgumentsTest,
    testing::Values(ArgumentCase{"UploadFile", "upload", {"a.csv"}, true},
        ArgumentCase{"UploadNoFile", "upload", {}, false},
        ArgumentCase{"UploadTwoFiles", "upload", {"a.csv", "b.csv"}, false},
        ArgumentCase{"UploadFileAfterTheEndOfOptions", "upload", {"--", "-a.csv"}, true},
        ArgumentCase{"StatusExtra", "status", {"now"}, false},
        ArgumentCase{"EventsAll", "events", {"--monitor", "--seconds", "0.5", "--log", "l.txt"}, true},
        ArgumentCase{"EventsCyclesZero", "events", {"--cycles", "0"}, false},
        ArgumentCase{"EventsCyclesAndSeconds", "events", {"--cycles", "1", "--seconds", "1"}, false},
        ArgumentCase{"EventsSecondsNaN", "events", {"--seconds", "nan"}, false},
        ArgumentCase{"EventsLogWithoutFile", "events", {"--log"}, false},
        ArgumentCase{"TestModeOn", "test-mode", {"on"}, true},
        ArgumentCase{"TestModeMaybe", "test-mode", {"maybe"}, false},
        ArgumentCase{"TestModeSendList", "test-mode", {"send", "1, 17,32"}, true},
        ArgumentCase{"TestModeSendEmpty", "test-mode", {"send", ""}, true},
        ArgumentCase{"TestModeSend33", "test-mode", {"send", "1,33"}, false},
        ArgumentCase{"TestModeSendZero", "test-mode", {"send", "0"}, false},
        ArgumentCase{"TestModeSendWithoutPoints", "test-mode", {"send"}, false},
        ArgumentCase{"FlashVerifyOnly", "flash", {"--verify-only", "f.hex"}, true},
        ArgumentCase{"FlashUnknownOption", "flash", {"--fast", "f.hex"}, false}),
    [](const testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

struct NameCase {
    const char* path;
    const char* expected;
};

// Test names, not bytes, in failure reports.
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.path; }

class BatchFileNameTest : public testing::TestWithParam<NameCase> { };

TEST_P(BatchFileNameTest, InsertsTheAddressBeforeTheExtension)
{
    EXPECT_EQ(AddressedFileName(QString::fromLatin1(GetParam().path), QStringLiteral("10.0.0.7")),
        QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, BatchFileNameTest,
    testing::Values(NameCase{"site.csv", "site.10.0.0.7.csv"}, NameCase{"/data/site.csv", "/data/site.10.0.0.7.csv"},
        NameCase{"site", "site.10.0.0.7"}, NameCase{"/data.d/site", "/data.d/site.10.0.0.7"},
        NameCase{"archive.tar.gz", "archive.tar.10.0.0.7.gz"}, NameCase{".hidden", ".hidden.10.0.0.7"},
        NameCase{"dir/.hidden", "dir/.hidden.10.0.0.7"}));

TEST(BatchFileName, OneModuleWritesTheFileAsNamed)
{
    EXPECT_EQ(BatchFileName("site.csv", "10.0.0.7", 1), "site.csv");
    EXPECT_EQ(BatchFileName("site.csv", "10.0.0.7", 2), "site.10.0.0.7.csv");
}

TEST(ProgressBar, FillsInProportionAndClamps)
{
    EXPECT_EQ(ProgressBarText("Uploading", 1, 1389, 10), "Uploading [..........]   0%");
    EXPECT_EQ(ProgressBarText("Uploading", 701, 1389, 10), "Uploading [#####.....]  50%");
    EXPECT_EQ(ProgressBarText("Verifying", 100, 100, 10), "Verifying [##########] 100%");
    EXPECT_EQ(ProgressBarText("X", 250, 100, 4), "X [####] 100%");
    EXPECT_EQ(ProgressBarText("X", -3, 100, 4), "X [....]   0%");
    EXPECT_EQ(ProgressBarText("X", 5, 0, 4), "X [....]   0%");
}

TEST(TraceLines, ShowDirectionTransportUnitAndBytes)
{
    const std::uint8_t request[] = {0x03, 0x00, 0xC7, 0x00, 0x64};
    regaccess::TraceFrame frame;
    frame.direction = regaccess::TraceDirection::Request;
    frame.transport = regaccess::TransportKind::ModbusTcp;
    frame.unit = 255;
    frame.pdu = request;
    const QTime t(14, 2, 7, 315);
    EXPECT_EQ(TraceLine(t, frame), "14:02:07.315 > tcp unit 255: 03 00 C7 00 64");

    frame.direction = regaccess::TraceDirection::Reply;
    frame.transport = regaccess::TransportKind::Driver;
    frame.adapter = 2;
    const std::uint8_t exception[] = {0x83, 0x02};
    frame.pdu = exception;
    EXPECT_EQ(TraceLine(t, frame), "14:02:07.315 < adapter 1 unit 255: 83 02");

    frame.direction = regaccess::TraceDirection::Failure;
    frame.errorCode = -3;
    frame.pdu = {};
    EXPECT_EQ(TraceLine(t, frame), "14:02:07.315 ! adapter 1 unit 255: error -3");
}

TEST(StatusReport, NamesTheLitIndicatorsAndThePoints)
{
    chronel::StatusDisplay status;
    EXPECT_EQ(TimeSourceText(status), "None");
    status.timeSource = {
        chronel::Lamp::Yellow, chronel::Lamp::ButtonFace, chronel::Lamp::ButtonFace, chronel::Lamp::Green};
    EXPECT_EQ(TimeSourceText(status), "Internal (GPS indicator yellow)");
    status.timeQuality[2] = chronel::Lamp::Green;
    EXPECT_EQ(TimeQualityText(status), "Poor");

    const auto points = chronel::PaintPointStatus(0x0001, 0x8000);
    EXPECT_EQ(PointStatusText(points), "10000000 00000000 00000000 00000001");
    EXPECT_EQ(LabelledLine("Open Sockets", " 3"), "Open Sockets:            3");
}

TEST(StatusReport, StatisticsListTwentyFourHoursEightTasksAndOnlyFilledErrors)
{
    chronel::StatisticsDisplay stats;
    stats.errorLines[1] = "1984-01-01  00:00:00  Ethernet Controller Reset";
    const QStringList lines = StatisticsLines(stats);
    EXPECT_EQ(lines.filter(QRegularExpression("^  \\d+:00 (AM|PM|Midnight|Noon):")).size(), 24);
    EXPECT_TRUE(lines.contains("  1984-01-01  00:00:00  Ethernet Controller Reset"));
    EXPECT_EQ(lines.filter("Ethernet").size(), 1);
    EXPECT_EQ(lines.last(), "Test Mode:              ");
    stats.testModeOn = true;
    EXPECT_EQ(StatisticsLines(stats).last(), "Test Mode:              Test");
}

} // namespace
} // namespace chronelcli
