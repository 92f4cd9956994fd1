#include "platform/profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <optional>

#include <sys/resource.h>

#include <ostream>

#include <gtest/gtest.h>

namespace {

using platform::PrivateProfile;

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath(QStringLiteral("PLCDRV.INI"));
    }
    QTemporaryDir dir_;
    QString path_;
};

// A small PLCDRV.INI as the setup utility and a hand editor leave it.
const QByteArray kSample = "; adapters of this station\n"
                           "[GENERAL]\n"
                           "DialogShow=0\n"
                           "\n"
                           "[Adapter.Object.1]\n"
                           "Enabled = 1\n"
                           "Type=0\n"
                           "COM:=3\n"
                           "# baud index\n"
                           "LinkSpeed=4\n"
                           "MBXDeviceName=  \"Card A\"  \n"
                           "\n"
                           "[adapter.object.2]\n"
                           "enabled=0\n"
                           "Type=2\n";

struct IntCase {
    const char* value; // nullptr: key absent
    int expected;
};

void PrintTo(const IntCase& c, std::ostream* os)
{
    *os << '"' << (c.value ? c.value : "(absent)") << "\" -> " << c.expected;
}

class ProfileInt : public ProfileFile, public ::testing::WithParamInterface<IntCase> { };

TEST_P(ProfileInt, LeadingNumberOrDefault)
{
    QByteArray text = "[Adapter.Object.1]\nOther=9\n";
    if (GetParam().value)
        text += QByteArray("LinkTimeOut=") + GetParam().value + "\n";
    WriteAll(path_, text);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("Adapter.Object.1"), QStringLiteral("LinkTimeOut"), 5000),
        GetParam().expected)
        << (GetParam().value ? GetParam().value : "(absent)");
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileInt,
    ::testing::Values(IntCase{"12", 12}, IntCase{"12abc", 12}, IntCase{"-3", -3}, IntCase{"+7", 7},
        IntCase{"  42  ", 42}, IntCase{"abc", 0}, IntCase{"-", 0}, IntCase{"0x10", 0}, IntCase{"", 5000},
        IntCase{nullptr, 5000}, IntCase{"99999999999", 2147483647}, IntCase{"-99999999999", -2147483647 - 1},
        IntCase{"4294967295", 2147483647}, IntCase{"007", 7}));

TEST_F(ProfileFile, SectionsAndKeysIgnoreCaseAndKeysAreLiteral)
{
    WriteAll(path_, kSample);
    const QString s1 = QStringLiteral("ADAPTER.OBJECT.1");
    EXPECT_EQ(PrivateProfile::getInt(path_, s1, QStringLiteral("enabled"), 0), 1);
    EXPECT_EQ(PrivateProfile::getInt(path_, s1, QStringLiteral("COM:"), -1), 3);
    EXPECT_EQ(PrivateProfile::getInt(path_, s1, QStringLiteral("COM"), -1), -1);
    EXPECT_EQ(PrivateProfile::getInt(path_, s1, QStringLiteral("LinkSpeed"), -1), 4);
    EXPECT_EQ(PrivateProfile::getString(path_, s1, QStringLiteral("MBXDeviceName")), QStringLiteral("Card A"));
    // A commented-out key does not exist.
    EXPECT_EQ(PrivateProfile::getString(path_, s1, QStringLiteral("# baud index"), QStringLiteral("none")),
        QStringLiteral("none"));
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("Adapter.Object.2"), QStringLiteral("Type"), 0), 2);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("general"), QStringLiteral("DIALOGSHOW"), 1), 0);
    // Keys of one section are not seen in another.
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("Adapter.Object.2"), QStringLiteral("COM:"), -1), -1);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("Adapter.Object.3"), QStringLiteral("Enabled"), 0), 0);
    EXPECT_EQ(PrivateProfile::getString(
                  path_, QStringLiteral("Adapter.Object.3"), QStringLiteral("Type"), QStringLiteral("dflt")),
        QStringLiteral("dflt"));
}

TEST_F(ProfileFile, MissingFileGivesDefaults)
{
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("GENERAL"), QStringLiteral("DialogShow"), 1), 1);
    EXPECT_EQ(PrivateProfile::getString(path_, QStringLiteral("GENERAL"), QStringLiteral("X"), QStringLiteral("d")),
        QStringLiteral("d"));
}

TEST_F(ProfileFile, CrLfFilesReadAndKeepTheirLineEnding)
{
    QByteArray crlf = kSample;
    crlf.replace("\n", "\r\n");
    WriteAll(path_, crlf);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("Adapter.Object.1"), QStringLiteral("COM:"), -1), 3);
    EXPECT_EQ(PrivateProfile::getString(path_, QStringLiteral("Adapter.Object.1"), QStringLiteral("MBXDeviceName")),
        QStringLiteral("Card A"));
    ASSERT_TRUE(PrivateProfile::writeString(
        path_, QStringLiteral("Adapter.Object.1"), QStringLiteral("NodeID"), QStringLiteral("5")));
    const QByteArray after = ReadAll(path_);
    EXPECT_FALSE(after.contains("NodeID=5\n") && !after.contains("NodeID=5\r\n"));
    EXPECT_EQ(after.count("\n"), after.count("\r\n"));
}

TEST_F(ProfileFile, WriteReplacesOnlyTheValueAndKeepsEverythingElse)
{
    WriteAll(path_, kSample);
    ASSERT_TRUE(PrivateProfile::writeString(
        path_, QStringLiteral("adapter.object.1"), QStringLiteral("com:"), QStringLiteral("7")));
    QByteArray expected = kSample;
    expected.replace("COM:=3\n", "COM:=7\n"); // key keeps the file's spelling
    EXPECT_EQ(ReadAll(path_), expected);
}

TEST_F(ProfileFile, NewKeyGoesToTheEndOfItsSection)
{
    WriteAll(path_, kSample);
    ASSERT_TRUE(PrivateProfile::writeString(
        path_, QStringLiteral("Adapter.Object.1"), QStringLiteral("NodeID"), QStringLiteral("17")));
    QByteArray expected = kSample;
    expected.replace("MBXDeviceName=  \"Card A\"  \n", "MBXDeviceName=  \"Card A\"  \nNodeID=17\n");
    EXPECT_EQ(ReadAll(path_), expected);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("Adapter.Object.1"), QStringLiteral("NodeID"), 0), 17);
}

TEST_F(ProfileFile, NewSectionIsAppended)
{
    WriteAll(path_, kSample);
    ASSERT_TRUE(PrivateProfile::writeString(
        path_, QStringLiteral("Adapter.Object.8"), QStringLiteral("Enabled"), QStringLiteral("1")));
    EXPECT_EQ(ReadAll(path_), kSample + "\n[Adapter.Object.8]\nEnabled=1\n");

    // A file without a final line break gets one before the new section.
    WriteAll(path_, "[A]\nx=1");
    ASSERT_TRUE(PrivateProfile::writeString(path_, QStringLiteral("B"), QStringLiteral("y"), QStringLiteral("2")));
    EXPECT_EQ(ReadAll(path_), QByteArray("[A]\nx=1\n\n[B]\ny=2\n"));
    ASSERT_TRUE(PrivateProfile::writeString(path_, QStringLiteral("A"), QStringLiteral("z"), QStringLiteral("3")));
    EXPECT_EQ(ReadAll(path_), QByteArray("[A]\nx=1\nz=3\n\n[B]\ny=2\n"));
}

TEST_F(ProfileFile, WriteCreatesFileAndDirectories)
{
    const QString nested = dir_.filePath(QStringLiteral("a/b/PLCDRV.INI"));
    ASSERT_TRUE(PrivateProfile::writeString(
        nested, QStringLiteral("GENERAL"), QStringLiteral("DialogShow"), QStringLiteral("0")));
    EXPECT_EQ(ReadAll(nested), QByteArray("[GENERAL]\nDialogShow=0\n"));
}

TEST_F(ProfileFile, RefusesNamesAndValuesThatWouldNotReadBack)
{
    WriteAll(path_, kSample);
    const QString s = QStringLiteral("GENERAL");
    EXPECT_FALSE(PrivateProfile::writeString(path_, s, QStringLiteral("Key"), QStringLiteral("1\n[Evil]\nx=1")));
    EXPECT_FALSE(PrivateProfile::writeString(path_, s, QStringLiteral("a=b"), QStringLiteral("1")));
    EXPECT_FALSE(PrivateProfile::writeString(path_, QStringLiteral("A]B"), QStringLiteral("k"), QStringLiteral("1")));
    EXPECT_FALSE(PrivateProfile::writeString(path_, s, QString(), QStringLiteral("1")));
    EXPECT_FALSE(PrivateProfile::writeString(path_, s, QStringLiteral(";k"), QStringLiteral("1")));
    EXPECT_EQ(ReadAll(path_), kSample);
}

// Reading drops blanks around a value and one pair of matching quotes, so a
// value that has either is written in quotes; whatever a write accepts must
// read back unchanged, both as a new key and over an existing one.
TEST_F(ProfileFile, ValuesWithBlankEndsOrQuotesReadBackAsWritten)
{
    const QString s = QStringLiteral("Adapter.Object.3");
    const QString values[] = {QStringLiteral(" spaced "), QStringLiteral("\ttab"), QStringLiteral("\"quoted\""),
        QStringLiteral("'single'"), QStringLiteral("\""), QStringLiteral("a \"b\" c"), QStringLiteral("plain")};
    for (const QString& value : values) {
        WriteAll(path_, kSample);
        ASSERT_TRUE(PrivateProfile::writeString(path_, s, QStringLiteral("Host"), value));
        EXPECT_EQ(PrivateProfile::getString(path_, s, QStringLiteral("Host")), value);
        ASSERT_TRUE(PrivateProfile::writeString(path_, QStringLiteral("GENERAL"), QStringLiteral("DialogShow"), value));
        EXPECT_EQ(PrivateProfile::getString(path_, QStringLiteral("GENERAL"), QStringLiteral("DialogShow")), value);
    }
    // Values that read back as they are stay unquoted in the file.
    EXPECT_TRUE(ReadAll(path_).contains("DialogShow=plain\n"));
}

// The replacement is written beside the file and renamed over it: a write
// that fails half-way must leave the old file whole. The file-size limit makes
// the write fail even for a privileged user.
TEST_F(ProfileFile, FailedWriteLeavesOldFileIntact)
{
    WriteAll(path_, kSample);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(kSample.size() + 16);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = PrivateProfile::writeString(
        path_, QStringLiteral("GENERAL"), QStringLiteral("Big"), QString(4096, QLatin1Char('x')));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadAll(path_), kSample);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("PLCDRV.INI")});
}

// A 50 MB line once cost five times its size for every key read. A file
// over the limit gives defaults, says why, and is never replaced.
TEST_F(ProfileFile, AnOversizedFileReadsAsUnreadableAndIsNotReplaced)
{
    const QByteArray big = "[GENERAL]\nDialogShow=0\n;" + QByteArray(2 * 1024 * 1024, 'x') + "\n";
    WriteAll(path_, big);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("GENERAL"), QStringLiteral("DialogShow"), 7), 7);
    const platform::ProfileReadFailure failure = PrivateProfile::lastReadFailure();
    EXPECT_EQ(failure.file, path_);
    EXPECT_EQ(failure.reason, QStringLiteral("larger than 1 MB, too large for this file"));
    EXPECT_FALSE(PrivateProfile::writeString(path_, QStringLiteral("GENERAL"), QStringLiteral("DialogShow"), "1"));
    EXPECT_EQ(ReadAll(path_), big);

    WriteAll(path_, kSample);
    EXPECT_EQ(PrivateProfile::getInt(path_, QStringLiteral("GENERAL"), QStringLiteral("DialogShow"), 7), 0);
    EXPECT_TRUE(PrivateProfile::lastReadFailure().file.isEmpty());
}

// --- where PLCDRV.INI lives ---

class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name)
    {
        if (const char* v = std::getenv(name))
            saved_ = v;
    }
    ~EnvGuard()
    {
        if (saved_)
            setenv(name_, saved_->c_str(), 1);
        else
            unsetenv(name_);
    }
    void set(const QString& value) { setenv(name_, value.toLocal8Bit().constData(), 1); }
    void unset() { unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

class IniPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("home/.config")));
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("user")));
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("sys1")));
        ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("sys2")));
        home_.set(dir_.filePath(QStringLiteral("home")));
        explicit_.unset();
        configHome_.unset();
        configDirs_.unset();
    }
    QString p(const char* rel) const { return dir_.filePath(QString::fromLatin1(rel)); }
    void touch(const char* rel) { WriteAll(p(rel), "[GENERAL]\n"); }

    QTemporaryDir dir_;
    EnvGuard home_{"HOME"};
    EnvGuard explicit_{"PLCDRV_INI"};
    EnvGuard configHome_{"XDG_CONFIG_HOME"};
    EnvGuard configDirs_{"XDG_CONFIG_DIRS"};
};

TEST_F(IniPath, ExplicitPathWinsForReadAndWrite)
{
    touch("user/PLCDRV.INI");
    configHome_.set(p("user"));
    explicit_.set(p("elsewhere/my.ini"));
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("elsewhere/my.ini"));
    EXPECT_EQ(platform::PlcdrvIniWritePath(), p("elsewhere/my.ini"));
}

TEST_F(IniPath, UserFileOverridesSystemFiles)
{
    configHome_.set(p("user"));
    configDirs_.set(p("sys1") + QLatin1Char(':') + p("sys2"));
    touch("sys2/PLCDRV.INI");
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("sys2/PLCDRV.INI"));
    touch("sys1/PLCDRV.INI");
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("sys1/PLCDRV.INI"));
    touch("user/PLCDRV.INI");
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("user/PLCDRV.INI"));
    // Writes never go to a system directory.
    EXPECT_EQ(platform::PlcdrvIniWritePath(), p("user/PLCDRV.INI"));
}

TEST_F(IniPath, DefaultsAndInvalidEntries)
{
    // Nothing exists anywhere: read and write both name the user's file
    // under ~/.config.
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("home/.config/PLCDRV.INI"));
    EXPECT_EQ(platform::PlcdrvIniWritePath(), p("home/.config/PLCDRV.INI"));
    // Relative or empty base directories are ignored.
    configHome_.set(QStringLiteral("relative/dir"));
    configDirs_.set(QStringLiteral("rel::") + p("sys2"));
    touch("sys2/PLCDRV.INI");
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("sys2/PLCDRV.INI"));
    EXPECT_EQ(platform::PlcdrvIniWritePath(), p("home/.config/PLCDRV.INI"));
    configHome_.set(QString());
    EXPECT_EQ(platform::PlcdrvIniWritePath(), p("home/.config/PLCDRV.INI"));
    // An empty PLCDRV_INI counts as unset.
    explicit_.set(QString());
    EXPECT_EQ(platform::PlcdrvIniReadPath(), p("sys2/PLCDRV.INI"));
}

} // namespace
