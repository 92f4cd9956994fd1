// The sixteen-line event display and the log file behind it.
#include "core/events/event_display.h"
#include "support/qt_printers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chronel;

namespace {

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(EventDisplay, StartsEmptyAndShowsTheNewestLineLast)
{
    EventDisplay display;
    for (const QString& l : display.lines())
        EXPECT_TRUE(l.isEmpty());
    display.addLine(QStringLiteral("first"));
    display.addLine(QStringLiteral("second"));
    EXPECT_EQ(display.lines()[15], QStringLiteral("second"));
    EXPECT_EQ(display.lines()[14], QStringLiteral("first"));
    EXPECT_TRUE(display.lines()[13].isEmpty());
}

TEST(EventDisplay, SeventeenthLinePushesTheFirstOutWhileTheLogKeepsAll)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("events.txt"));
    EventDisplay display;
    ASSERT_EQ(display.startLogging(path), EventLog::OpenResult::Opened);
    QByteArray expected;
    for (int i = 1; i <= 17; ++i) {
        const QString line = QStringLiteral("line %1").arg(i);
        display.addLine(line);
        expected += line.toLatin1() + "\r\n";
    }
    EXPECT_EQ(display.lines()[0], QStringLiteral("line 2"));
    EXPECT_EQ(display.lines()[15], QStringLiteral("line 17"));
    EXPECT_EQ(FileBytes(path), expected);
}

TEST(EventLog, OpeningAppendsToWhatIsThere)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("events.txt"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("yesterday\r\n");
    }
    EventDisplay display;
    ASSERT_EQ(display.startLogging(path), EventLog::OpenResult::Opened);
    display.addLine(QStringLiteral("today"));
    display.stopLogging();
    display.addLine(QStringLiteral("not logged"));
    ASSERT_EQ(display.startLogging(path), EventLog::OpenResult::Opened);
    display.addLine(QString::fromUtf8("caf\u00e9 \u20ac"));
    display.stopLogging();
    EXPECT_EQ(FileBytes(path), QByteArray("yesterday\r\ntoday\r\ncaf\xE9 ?\r\n"));
}

TEST(EventLog, CancelledAndFailedOpensLeaveLoggingOff)
{
    QTemporaryDir dir;
    EventDisplay display;
    QSignalSpy changes(&display, &EventDisplay::loggingChanged);
    EXPECT_EQ(display.startLogging(QString()), EventLog::OpenResult::Cancelled);
    EXPECT_FALSE(display.logging());
    EXPECT_EQ(
        display.startLogging(dir.filePath(QStringLiteral("missing/dir/events.txt"))), EventLog::OpenResult::Failed);
    EXPECT_FALSE(display.logging());
    EXPECT_EQ(changes.count(), 0);

    // Choosing a file again while logging closes the first one.
    const QString a = dir.filePath(QStringLiteral("a.txt"));
    const QString b = dir.filePath(QStringLiteral("b.txt"));
    ASSERT_EQ(display.startLogging(a), EventLog::OpenResult::Opened);
    ASSERT_EQ(display.startLogging(b), EventLog::OpenResult::Opened);
    display.addLine(QStringLiteral("x"));
    EXPECT_EQ(FileBytes(a), QByteArray());
    EXPECT_EQ(FileBytes(b), QByteArray("x\r\n"));
    // A failed reopen leaves the log closed, not the old file open.
    EXPECT_EQ(display.startLogging(dir.filePath(QStringLiteral("missing/x.txt"))), EventLog::OpenResult::Failed);
    EXPECT_FALSE(display.logging());
}

// The display shows a module's text as it is; the log gets one line per
// event however the text tries to end it, and never a planted link's file.
TEST(EventLog, ATextNeitherForgesALineNorFollowsALink)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("events.txt"));
    EventDisplay display;
    ASSERT_EQ(display.startLogging(path), EventLog::OpenResult::Opened);
    const QString text = QStringLiteral("Input Point  1  On\r\n2024-03-01  00:00:00.000  Power on Reset\x1b[1A");
    display.addLine(text);
    display.stopLogging();
    EXPECT_EQ(display.lines()[15], text);
    EXPECT_EQ(FileBytes(path),
        QByteArray("Input Point  1  On\\x0d\\x0a2024-03-01  00:00:00.000  Power on Reset\\x1b[1A\r\n"));

    const QString victim = dir.filePath(QStringLiteral("victim"));
    const QString planted = dir.filePath(QStringLiteral("planted.txt"));
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    ASSERT_TRUE(QFile::link(victim, planted));
    EXPECT_EQ(display.startLogging(planted), EventLog::OpenResult::Failed);
    EXPECT_EQ(display.logError(), QStringLiteral("a symbolic link, which is not followed"));
    display.addLine(QStringLiteral("not appended"));
    EXPECT_EQ(FileBytes(victim), QByteArray("precious"));
}

// A full disk: the write fails, logging stops and the failure is reported
// once; the display goes on.
TEST(EventLog, WriteFailureUnchecksAndReportsOnce)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    EventDisplay display;
    QSignalSpy failures(&display, &EventDisplay::logWriteFailed);
    QSignalSpy changes(&display, &EventDisplay::loggingChanged);
    ASSERT_EQ(display.startLogging(QStringLiteral("/dev/full")), EventLog::OpenResult::Opened);
    display.addLine(QStringLiteral("lost"));
    display.addLine(QStringLiteral("also shown"));
    EXPECT_FALSE(display.logging());
    ASSERT_EQ(failures.count(), 1);
    EXPECT_EQ(failures[0][0].toString(), QStringLiteral("Log Events"));
    EXPECT_EQ(failures[0][1].toString(), QStringLiteral("Log Events File Write Error"));
    ASSERT_EQ(changes.count(), 2);
    EXPECT_FALSE(changes[1][0].toBool());
    EXPECT_EQ(display.lines()[15], QStringLiteral("also shown"));
    EXPECT_EQ(display.lines()[14], QStringLiteral("lost"));
}

} // namespace
