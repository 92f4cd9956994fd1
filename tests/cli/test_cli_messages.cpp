// What the tool says when a file fails: the file, the system's reason or the
// line and record where a settings file stopped, then the window's text.
#include "cli_test_support.h"

#include <gtest/gtest.h>

namespace clitest {
namespace {

// The records before "Daylight Saving Time Location", all valid.
const std::string FirstThirteen = "\"Module Name\",\"x\"\r\n"
                                  "\"PLC ID\",1\r\n"
                                  "\"Event Delay\",0\r\n"
                                  "\"Sync Master\",\"False\"\r\n"
                                  "\"Hour Time Update\",\"False\"\r\n"
                                  "\"Modbus RS-232\",\"9600\",\"None\",0,\"RTU\"\r\n"
                                  "\"Modbus RS-485\",\"9600\",\"None\",0,\"RTU\"\r\n"
                                  "\"Event Buffer Type\",2\r\n"
                                  "\"TCP/IP Address\",\"Manual\"\r\n"
                                  "\"IP Address\",10,0,0,7\r\n"
                                  "\"Subnet Address\",255,0,0,0\r\n"
                                  "\"Gateway Address\",0,0,0,0\r\n"
                                  "\"TCP/IP Speed\",\"Auto\",\"Full\"\r\n";

struct FileCase {
    const char* name;
    bool exists;
    std::string text;
    std::string message; // after "chronel-cli: <file>: "
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class CliSettingsFile : public testing::TestWithParam<FileCase> { };

TEST_P(CliSettingsFile, NamesTheFileAndWhereAndWhyItStopped)
{
    TempDir dir;
    const std::string path = dir.file("site.csv");
    if (GetParam().exists)
        WriteFile(path, GetParam().text);
    // The file is read before any module is asked: no simulator needed.
    const RunResult r = RunCli({"--tcp", "--ip", "127.0.0.1", "download", path}, 0);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "chronel-cli: " + path + ": " + GetParam().message + " (File Open Error)\n")) << r.err;
    EXPECT_FALSE(Contains(r.err, "File Open: File Open Error")) << "the bare text is replaced: " << r.err;
}

INSTANTIATE_TEST_SUITE_P(Table, CliSettingsFile,
    testing::Values(FileCase{"Missing", false, "", "No such file or directory"},
        FileCase{"NotANumber", true, "\"Module Name\",\"x\"\r\n\"PLC ID\",12a\r\n",
            "line 2, record 2 \"PLC ID\": \"12a\" is not a number"},
        // Blank lines count: the line is the one an editor shows.
        FileCase{"AfterBlankLines", true, "\"Module Name\",\"x\"\r\n\r\n\n\"PLC ID\",zz\r\n",
            "line 4, record 2 \"PLC ID\": \"zz\" is not a number"},
        FileCase{"EndsEarly", true, "\"Module Name\",\"x\"\r\n\"PLC ID\",1\r\n",
            "line 3, record 3 \"Event Delay\": the file ends before the record is complete"},
        FileCase{"OutsideTheList", true, FirstThirteen + "\"Daylight Saving Time Location\",99\r\n",
            "line 14, record 14 \"Daylight Saving Time Location\": \"99\" is not in the list"}),
    [](const testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(CliFiles, LogAndSaveFailuresNameTheFileAndTheReason)
{
    Sim sim;
    ASSERT_GT(sim.startTcp(), 0);
    TempDir dir;
    const std::string log = dir.file("gone/ser.txt");
    const RunResult logged =
        RunCli({"--tcp", "--ip", "127.0.0.1", "events", "--cycles", "1", "--log", log}, sim.port());
    EXPECT_EQ(logged.exitCode, 2);
    EXPECT_TRUE(
        Contains(logged.err, "chronel-cli: " + log + ": No such file or directory (Log Events File Open Error)\n"))
        << logged.err;

    // A directory that exists but takes no files: the upload runs, the save
    // fails with the system's reason.
    const std::string saved = "/proc/site.csv";
    const RunResult upload = RunCli({"--tcp", "--interval", "20", "--ip", "127.0.0.1", "upload", saved}, sim.port());
    EXPECT_EQ(upload.exitCode, 2);
    const auto line = upload.err.find("chronel-cli: " + saved + ": ");
    ASSERT_NE(line, std::string::npos) << upload.err;
    const std::string rest = upload.err.substr(line, upload.err.find('\n', line) - line);
    EXPECT_TRUE(rest.ends_with(" (File Save Error)")) << rest;
    EXPECT_GT(rest.size(), std::string("chronel-cli: " + saved + ":  (File Save Error)").size())
        << "a reason: " << rest;
}

} // namespace
} // namespace clitest
