// A period of the journal as a COMTRADE record: modules whose clocks run in
// different zones meet on UTC, each point of each module is a channel of
// its own with its state before the period, and the time-quality code
// follows the worst clock of the rows in it.
#include "journal/comtrade_export.h"
#include "journal/journal_location.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

namespace chronel {
namespace {

JournalEvent Row(const char* module, const char* wall, const char* utc, int point, bool on, int clockQuality = 0)
{
    JournalEvent e;
    e.module = QString::fromLatin1(module);
    e.moduleTime = QString::fromLatin1(wall);
    e.utcTime = QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs);
    e.point = point;
    e.pointDescription = QStringLiteral("Breaker 52-A, trip");
    e.text = QStringLiteral("%1  Input Point  %2  %3").arg(e.moduleTime).arg(point).arg(on ? "On" : "Off");
    e.received = QDateTime::currentDateTimeUtc();
    e.clockSource = 1;
    e.clockQuality = clockQuality;
    e.clockOffsetMs = 0;
    return e;
}

QStringList Lines(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

TEST(ComtradeExport, ModulesInDifferentZonesMeetOnUtc)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    const auto location = chronel::ParseJournalLocation(dir.filePath(QStringLiteral("j.sqlite")), &error);
    chronel::JournalStore store;
    ASSERT_TRUE(location && store.open(*location, &error)) << error.toStdString();
    const auto store2 = [&](const QString& module, const QList<JournalEvent>& rows) {
        chronel::JournalModuleState state;
        state.module = module;
        QList<JournalEvent> numbered = rows;
        for (int i = 0; i < numbered.size(); ++i)
            numbered[i].record = i;
        ASSERT_TRUE(store.appendBlock(numbered, state, &error)) << error.toStdString();
    };
    // Berlin (+01:00) and Kolkata (+05:30): the same instants, other walls.
    store2(QStringLiteral("127.0.0.1"),
        {Row("127.0.0.1", "2026-12-01T09:00:00.000", "2026-12-01T08:00:00.000Z", 3, true),
            Row("127.0.0.1", "2026-12-01T10:00:00.001", "2026-12-01T09:00:00.001Z", 3, false),
            Row("127.0.0.1", "2026-12-01T10:00:00.001", "2026-12-01T09:00:00.001Z", 3, true)});
    store2(QStringLiteral("127.0.0.2"),
        {Row("127.0.0.2", "2026-12-01T14:30:00.001", "2026-12-01T09:00:00.001Z", 3, false, 1),
            Row("127.0.0.2", "2026-12-01T14:30:00.002", "", 4, true)});

    chronel::JournalFilter filter;
    ComtradeExport how{dir.path(), QStringLiteral("North, 110 kV"), QStringLiteral("site journal")};
    chronel::ComtradeFiles files;
    int changes = 0;
    ASSERT_FALSE(ExportComtrade(store, filter, how, &files, &changes, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("with Z or an offset"))) << error.toStdString();

    ASSERT_TRUE(filter.setFrom(QStringLiteral("2026-12-01T08:30Z"), &error));
    ASSERT_TRUE(filter.setTo(QStringLiteral("2026-12-01T10:00Z"), &error));
    ASSERT_TRUE(ExportComtrade(store, filter, how, &files, &changes, &error)) << error.toStdString();
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(files.cfgPath.endsWith(QStringLiteral("/261201,083000000,0,North__110_kV,site_journal.cfg")))
        << files.cfgPath.toStdString();
    const QStringList cfg = Lines(files.cfgPath);
    ASSERT_GE(cfg.size(), 12);
    EXPECT_EQ(cfg[1], QStringLiteral("2,0A,2D"));
    EXPECT_TRUE(cfg[2].startsWith(QStringLiteral("1,127.0.0.1 Input Point 3 Breaker 52-A; trip,")))
        << cfg[2].toStdString();
    EXPECT_TRUE(cfg[3].startsWith(QStringLiteral("2,127.0.0.2 Input Point 3 "))) << cfg[3].toStdString();
    EXPECT_TRUE(cfg.contains(QStringLiteral("0,0")));
    // A fair clock among the rows: within a second.
    EXPECT_EQ(cfg.last(), QStringLiteral("A,0"));
    // Start, the three changes at one UTC millisecond, end; point 3 of the
    // first module was on before the period (its 08:00 row), the second's
    // state unknown (0); each change its own sample, in stored order.
    const QStringList dat = Lines(files.datPath);
    ASSERT_EQ(dat.size(), 5);
    EXPECT_EQ(dat[0], QStringLiteral("1,0,1,0"));
    EXPECT_EQ(dat[1], QStringLiteral("2,1800001,0,0"));
    EXPECT_EQ(dat[2], QStringLiteral("3,1800001,1,0"));
    EXPECT_EQ(dat[3], QStringLiteral("4,1800001,1,0"));
    EXPECT_EQ(dat[4], QStringLiteral("5,5400000,1,0"));
}

TEST(ComtradeExport, TimeQualityOfAClock)
{
    JournalEvent row = Row("127.0.0.1", "", "", 1, true);
    EXPECT_EQ(TimeQualityCode(row), 0x0);
    row.clockQuality = 2;
    EXPECT_EQ(TimeQualityCode(row), 0xB);
    row.clockQuality = 0;
    row.clockOffsetMs = 4000;
    EXPECT_EQ(TimeQualityCode(row), 0xB);
    row.clockOffsetMs = 12000;
    EXPECT_EQ(TimeQualityCode(row), 0xF);
    row.clockOffsetMs.reset();
    row.clockSource = 0;
    EXPECT_EQ(TimeQualityCode(row), 0xF);
    row.clockSource.reset();
    EXPECT_EQ(TimeQualityCode(row), 0xF);
    EXPECT_EQ(PointStateOfLine(QStringLiteral("x  Output Point  2  Off")), 0);
    EXPECT_FALSE(PointStateOfLine(QStringLiteral("x  Input Point  2  Chatter On Scan")));
}

} // namespace
} // namespace chronel
