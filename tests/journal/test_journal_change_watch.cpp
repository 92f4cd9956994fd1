// A reader waiting for an SQLite journal's next rows is woken by a commit,
// from any connection and through a link to the file, not by the folder's
// other files or its readers; it is woken when asked; a PostgreSQL journal
// is not watched.
#include "journal/journal_change_watch.h"
#include "journal/journal_location.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace chronel {
namespace {

using Woken = JournalChangeWatch::Woken;

JournalEvent Event(int second)
{
    JournalEvent event;
    event.module = QStringLiteral("127.0.0.2");
    event.moduleTime = QStringLiteral("2026-03-01T10:00:%1.000").arg(second, 2, 10, QLatin1Char('0'));
    event.dateSource = QStringLiteral("record");
    event.point = 1;
    event.text = event.moduleTime + QStringLiteral("  Input Point  1  On");
    event.received = QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
    event.raw = event.moduleTime.toLatin1();
    return event;
}

// Waits out the notices a commit left (a commit writes more than once).
void Quieten(JournalChangeWatch& watch)
{
    for (int i = 0; i < 50 && watch.wait(100) == Woken::Changed; ++i) { }
}

TEST(JournalChangeWatchTest, ACommitWakesTheReaderAndNothingElseOfTheFolderDoes)
{
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    ASSERT_TRUE(folder.isValid() && elsewhere.isValid());
    JournalLocation location;
    location.path = folder.filePath(QStringLiteral("journal.sqlite"));
    JournalStore writer;
    QString error;
    ASSERT_TRUE(writer.open(location, &error)) << error.toStdString();
    ASSERT_TRUE(writer.append({Event(0)}, &error)) << error.toStdString();

    // Through a link in another folder: the file's own folder is watched.
    JournalLocation linked;
    linked.path = elsewhere.filePath(QStringLiteral("link.sqlite"));
    ASSERT_TRUE(QFile::link(location.path, linked.path));
    int next = 1;
    for (const JournalLocation& at : {location, linked}) {
        SCOPED_TRACE(at.path.toStdString());
        JournalChangeWatch watch(at);
        ASSERT_TRUE(watch.watching()) << watch.whyNot().toStdString();
        EXPECT_EQ(watch.wait(50), Woken::TimedOut);

        QFile other(folder.filePath(QStringLiteral("journal.sqlite.notes")));
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("not the journal");
        other.close();
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(watch.wait(300), Woken::TimedOut);
        // A wait that other files' notices interrupt still lasts its time.
        EXPECT_GE(timer.elapsed(), 250);

        // Reading the journal is no change, or a reader that waits would
        // wake itself.
        JournalStore reader;
        ASSERT_TRUE(reader.openReadOnly(location, &error)) << error.toStdString();
        ASSERT_TRUE(JournalRows(reader, {}, &error)) << error.toStdString();
        reader.close();
        EXPECT_EQ(watch.wait(300), Woken::TimedOut);

        // A commit by a connection of its own, on a thread of its own, as
        // the collector's is, while the reader waits.
        const int second = next++;
        timer.restart();
        std::thread commit([&location, second] {
            JournalStore another;
            QString why;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_TRUE(another.open(location, &why) && another.append({Event(second)}, &why)) << why.toStdString();
        });
        EXPECT_EQ(watch.wait(10000), Woken::Changed);
        EXPECT_LT(timer.elapsed(), 5000);
        commit.join();
        Quieten(watch);

        // The writer's next commit, made while nobody waited: the next wait
        // ends at once.
        ASSERT_TRUE(writer.append({Event(next++)}, &error)) << error.toStdString();
        timer.restart();
        EXPECT_EQ(watch.wait(10000), Woken::Changed);
        EXPECT_LT(timer.elapsed(), 1000);
        Quieten(watch);

        std::thread asker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            watch.wake();
        });
        timer.restart();
        EXPECT_EQ(watch.wait(10000), Woken::Asked);
        EXPECT_LT(timer.elapsed(), 5000);
        asker.join();
    }
}

TEST(JournalChangeWatchTest, APostgresJournalIsNotWatchedAndItsWaitsLastTheirTime)
{
    QString error;
    const std::optional<JournalLocation> location =
        ParseJournalLocation(QStringLiteral("postgresql:///site?host=/nonexistent"), &error);
    ASSERT_TRUE(location) << error.toStdString();
    JournalChangeWatch watch(*location);
    EXPECT_FALSE(watch.watching());
    EXPECT_FALSE(watch.whyNot().isEmpty());
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(watch.wait(100), Woken::TimedOut);
    EXPECT_GE(timer.elapsed(), 90);
    watch.wake();
    EXPECT_EQ(watch.wait(10000), Woken::Asked);
}

} // namespace
} // namespace chronel
