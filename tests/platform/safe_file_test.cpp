// Reading and writing the files people name: control characters shown as
// data, bounded reads of anything at a name, writes that a planted link
// cannot redirect.
#include "platform/printable_text.h"
#include "platform/safe_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(PrintableText, ControlsBecomeHexAndTheRestStays)
{
    // An OSC 8 hyperlink, a window title, "erase line" and a forged line.
    const QString hostile = QStringLiteral("Feeder\x1b]8;;http://x\x1b\\1\x1b]0;t\x07\x1b[1A\x1b[2K\r\nOK") +
        QChar(0x7f) + QChar(0x9b) + QStringLiteral("2J é\\x");
    EXPECT_EQ(PrintableText(hostile),
        QStringLiteral("Feeder\\x1b]8;;http://x\\x1b\\1\\x1b]0;t\\x07\\x1b[1A\\x1b[2K"
                       "\\x0d\\x0aOK\\x7f\\x9b2J é\\x"));
    EXPECT_EQ(
        PrintableText(QStringLiteral("a\tb\r\nc\x1b"), ControlsKept::LineLayout), QStringLiteral("a\tb\r\nc\\x1b"));
    EXPECT_EQ(PrintableText(QStringLiteral("Input Point  5  On")), QStringLiteral("Input Point  5  On"));
}

class SafeFile : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    static QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QTemporaryDir dir_;
};

TEST_F(SafeFile, ReadsOnlyRegularFilesUpToTheLimit)
{
    write(path("site.txt"), "127.0.0.1\n");
    const SmallFile small = ReadSmallFile(path("site.txt"));
    EXPECT_EQ(small.status, SmallFile::Status::Read);
    EXPECT_EQ(small.bytes, "127.0.0.1\n");

    write(path("big.txt"), QByteArray(SmallFileLimit + 1, '#'));
    EXPECT_EQ(ReadSmallFile(path("big.txt")).reason, "larger than 1 MB, too large for this file");
    EXPECT_EQ(ReadSmallFile(path("big.txt"), SmallFileLimit + 1).status, SmallFile::Status::Read);

    // Devices and FIFOs: refused at once, neither read endlessly nor waited on.
    EXPECT_EQ(ReadSmallFile(QStringLiteral("/dev/zero")).reason, "not a regular file");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    EXPECT_EQ(ReadSmallFile(path("fifo")).reason, "not a regular file");

    const SmallFile missing = ReadSmallFile(path("none"));
    EXPECT_EQ(missing.status, SmallFile::Status::Missing);
    EXPECT_EQ(missing.reason, "No such file or directory");
}

TEST_F(SafeFile, AReplaceReplacesAPlantedLinkInsteadOfWritingThroughIt)
{
    write(path("victim"), "precious");
    ASSERT_TRUE(QFile::link(path("victim"), path("site.csv")));
    QString error;
    ASSERT_TRUE(ReplaceFile(path("site.csv"), "settings", &error)) << error.toStdString();
    EXPECT_EQ(contents(path("victim")), "precious");
    EXPECT_FALSE(QFileInfo(path("site.csv")).isSymLink());
    EXPECT_EQ(contents(path("site.csv")), "settings");

    // The file it replaces keeps its mode; nothing is left beside it.
    ASSERT_EQ(::chmod(QFile::encodeName(path("site.csv")).constData(), 0640), 0);
    ASSERT_TRUE(ReplaceFile(path("site.csv"), "again", &error)) << error.toStdString();
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(path("site.csv")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::System).size(), 2);

    EXPECT_FALSE(ReplaceFile(path("missing/site.csv"), "x", &error));
    EXPECT_EQ(error, "No such file or directory");
}

TEST_F(SafeFile, AppendingRefusesAPlantedLink)
{
    write(path("victim"), "precious");
    ASSERT_TRUE(QFile::link(path("victim"), path("events.txt")));
    QString error;
    EXPECT_EQ(OpenForAppend(path("events.txt"), &error), -1);
    EXPECT_EQ(error, "a symbolic link, which is not followed");
    EXPECT_EQ(contents(path("victim")), "precious");

    const int fd = OpenForAppend(path("log.txt"), &error);
    ASSERT_GE(fd, 0) << error.toStdString();
    EXPECT_EQ(::write(fd, "line\r\n", 6), 6);
    ::close(fd);
    EXPECT_EQ(contents(path("log.txt")), "line\r\n");
}

} // namespace
