// The journal table's model: time order (UTC or module time), rows added in their place
// and once, sorting by a column, the bound on rows held, and the clock of
// each row in words with its doubts marked.
#include "support/qt_printers.h"
#include "ui/journal_csv.h"
#include "ui/journal_table_model.h"

#include <QColor>

#include <gtest/gtest.h>

namespace chronel {
namespace {

JournalEvent Row(qint64 id, const char* module, const char* time, int point)
{
    JournalEvent e;
    e.id = id;
    e.module = QString::fromLatin1(module);
    e.moduleName = QStringLiteral("Bay ") + e.module.right(1);
    e.moduleTime = QStringLiteral("2024-03-01T") + QString::fromLatin1(time);
    e.point = point;
    e.text = QStringLiteral("Input Point %1  On").arg(point, 2);
    e.received = QDateTime(QDate(2024, 3, 1), QTime(14, 0), Qt::UTC);
    return e;
}

QList<qint64> Ids(const JournalTableModel& model)
{
    QList<qint64> ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << model.eventAt(row).id;
    return ids;
}

TEST(JournalTableModel, RowsInModuleTimeOrderAndAddedInTheirPlaceOnce)
{
    JournalTableModel model;
    model.setRows({Row(1, "127.0.0.2", "13:00:02.000", 5), Row(2, "127.0.0.3", "13:00:01.000", 0),
        Row(3, "127.0.0.2", "13:00:03.000", 7)});
    EXPECT_EQ(Ids(model), (QList<qint64>{2, 1, 3}));
    // A late row of another module goes between; an id held already is not
    // added again.
    EXPECT_EQ(model.addRows({Row(4, "127.0.0.4", "13:00:01.500", 1), Row(3, "127.0.0.2", "13:00:03.000", 7)}), 1);
    EXPECT_EQ(Ids(model), (QList<qint64>{2, 4, 1, 3}));

    EXPECT_EQ(model.columnCount(), 10);
    EXPECT_EQ(model.headerData(JournalTableModel::Text, Qt::Horizontal).toString(), QStringLiteral("Event text"));
    EXPECT_EQ(
        model.index(1, JournalTableModel::ModuleTime).data().toString(), QStringLiteral("2024-03-01 13:00:01.500"));
    EXPECT_EQ(
        model.index(1, JournalTableModel::Received).data().toString(), QStringLiteral("2024-03-01T14:00:00.000Z"));
    EXPECT_EQ(model.index(0, JournalTableModel::Point).data().toString(), QString()); // no point
}

// Modules in two zones and the hour a fall-back repeats: with every row's
// UTC time known the rows go in UTC order; a row of a module without a
// declared zone puts them all back on module time, and the heading says which.
TEST(JournalTableModel, RowsWithUtcTimesGoInUtcOrder)
{
    const auto zoned = [](qint64 id, const char* module, const char* time, const char* utc) {
        JournalEvent e = Row(id, module, time, 1);
        e.utcTime = QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODateWithMs);
        return e;
    };
    JournalTableModel model;
    // 02:30 +02:00 (summer) comes before 02:10 +01:00 (winter, the hour again)
    // and after 23:59 UTC of a module on UTC.
    model.setRows({zoned(1, "127.0.0.2", "02:10:00.000", "2024-03-01T01:10:00.000Z"),
        zoned(2, "127.0.0.2", "02:30:00.000", "2024-03-01T00:30:00.000Z"),
        zoned(3, "127.0.0.3", "00:45:00.000", "2024-03-01T00:45:00.000Z")});
    EXPECT_EQ(Ids(model), (QList<qint64>{2, 3, 1}));
    EXPECT_EQ(model.timeOrder(), JournalTimeOrder::Utc);
    EXPECT_TRUE(model.headerData(JournalTableModel::ModuleTime, Qt::Horizontal, Qt::ToolTipRole)
                    .toString()
                    .contains(QLatin1String("UTC order")));
    model.addRows({zoned(4, "127.0.0.3", "01:00:00.000", "2024-03-01T01:00:00.000Z")});
    EXPECT_EQ(Ids(model), (QList<qint64>{2, 3, 4, 1}));

    model.addRows({Row(5, "127.0.0.4", "01:30:00.000", 1)});
    EXPECT_EQ(model.timeOrder(), JournalTimeOrder::ModuleTime);
    EXPECT_EQ(Ids(model), (QList<qint64>{3, 4, 5, 1, 2}));
    EXPECT_TRUE(model.headerData(JournalTableModel::ModuleTime, Qt::Horizontal, Qt::ToolTipRole)
                    .toString()
                    .contains(QLatin1String("module-time order")));
}

// A row's marks are seen in the table, as the text format writes them; the
// export keeps the line as stored.
TEST(JournalTableModel, ShowsAMarkedRowsMarksAfterItsLine)
{
    JournalTableModel model;
    JournalEvent marked = Row(1, "127.0.0.2", "13:00:01.000", 0);
    marked.text = QStringLiteral("  Event kind 9, which has no text");
    marked.marks = QStringLiteral("malformed, no line");
    model.setRows({marked, Row(2, "127.0.0.2", "13:00:02.000", 5)});
    EXPECT_EQ(model.index(0, JournalTableModel::Text).data().toString(),
        QStringLiteral("  Event kind 9, which has no text  [malformed, no line]"));
    EXPECT_EQ(model.index(1, JournalTableModel::Text).data().toString(), QStringLiteral("Input Point  5  On"));
    EXPECT_EQ(QString::fromUtf8(JournalCsvLine(marked)),
        QStringLiteral("127.0.0.2,Bay 2,2024-03-01T13:00:01.000,,,,\"  Event kind 9, which has no text\",0,"
                       "2024-03-01T14:00:00.000Z,unknown\r\n"));
}

JournalEvent Clocked(qint64 id, std::optional<int> source, std::optional<int> quality, std::optional<int> offsetMs)
{
    JournalEvent e = Row(id, "127.0.0.2", "13:00:01.000", 5);
    e.clockSource = source;
    e.clockQuality = quality;
    e.clockOffsetMs = offsetMs;
    return e;
}

// The clock in words; one in doubt says why first, in a colour of its own,
// and its event line stays as it is. The export has the words, last.
TEST(JournalTableModel, ClockColumnSaysTheClockAndMarksADoubt)
{
    JournalTableModel model;
    const JournalEvent synchronised = Clocked(1, 1, 0, 400);
    const JournalEvent unsynchronised = Clocked(2, 0x08, 0, std::nullopt);
    const JournalEvent off = Clocked(3, 2, 2, -3200);
    const JournalEvent unread = Clocked(4, std::nullopt, std::nullopt, std::nullopt);
    model.setRows({synchronised, unsynchronised, off, unread});
    const auto cell = [&model](int row, int role = Qt::DisplayRole) {
        return model.index(row, JournalTableModel::Clock).data(role);
    };
    EXPECT_EQ(model.headerData(JournalTableModel::Clock, Qt::Horizontal).toString(), QStringLiteral("Clock"));
    EXPECT_EQ(cell(0).toString(), QStringLiteral("GPS, good, +0.4 s"));
    EXPECT_EQ(cell(1).toString(), QStringLiteral("[clock not synchronised]  internal clock (GPS seen), good"));
    EXPECT_EQ(cell(2).toString(), QStringLiteral("[clock quality poor, clock off by 3.2 s]  IRIG-B, poor, -3.2 s"));
    EXPECT_EQ(cell(3).toString(), QStringLiteral("unknown"));
    for (const int row : {0, 3})
        EXPECT_FALSE(cell(row, Qt::ForegroundRole).isValid()) << row;
    for (const int row : {1, 2}) {
        const QColor colour = cell(row, Qt::ForegroundRole).value<QColor>();
        EXPECT_TRUE(colour.isValid()) << row;
        EXPECT_GT(colour.red(), 2 * colour.green()) << row; // red, not the text's grey
    }
    EXPECT_EQ(model.index(1, JournalTableModel::Text).data().toString(), QStringLiteral("Input Point  5  On"));
    EXPECT_TRUE(
        model.index(1, JournalTableModel::Clock).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);

    EXPECT_TRUE(JournalCsvHeaderLine().endsWith(",received,clock\r\n")) << JournalCsvHeaderLine().toStdString();
    EXPECT_TRUE(JournalCsvLine(off).endsWith(",\"IRIG-B, poor, -3.2 s\"\r\n")) << JournalCsvLine(off).toStdString();

    // Sorted: unknown, the internal clock, then by source, quality and the
    // offset's size.
    const JournalEvent larger = Clocked(5, 1, 0, -900);
    model.addRows({larger});
    model.sort(JournalTableModel::Clock, Qt::AscendingOrder);
    EXPECT_EQ(Ids(model), (QList<qint64>{4, 2, 1, 5, 3}));
}

// The legend is at hand on the headings of the columns that carry marks.
TEST(JournalTableModel, HeadingsOfMarkedColumnsExplainTheMarks)
{
    JournalTableModel model;
    for (const int column : {int(JournalTableModel::Text), int(JournalTableModel::Clock)}) {
        const QString tip = model.headerData(column, Qt::Horizontal, Qt::ToolTipRole).toString();
        for (const char* mark : {"malformed", "no line", "undated", "repeated hour", "skipped hour", "chattering",
                 "clock not synchronised", "clock quality poor", "clock quality bad", "clock off by", "2 s"})
            EXPECT_TRUE(tip.contains(QLatin1String(mark))) << column << ": " << mark;
    }
    EXPECT_FALSE(model.headerData(JournalTableModel::Module, Qt::Horizontal, Qt::ToolTipRole).isValid());
}

// Chatter among the rows held: a row that arrives can make the rows before
// it an episode, and the table says so where it shows them.
TEST(JournalTableModel, MarksTheChangesOfAChatteringPoint)
{
    JournalTableModel model;
    QList<JournalEvent> rows;
    for (int i = 0; i < 10; ++i)
        rows << Row(i + 1, "127.0.0.2",
            QStringLiteral("13:00:00.%1").arg(i * 90, 3, 10, QChar(u'0')).toLatin1().constData(), 4);
    rows << Row(20, "127.0.0.2", "13:00:00.950", 5);
    model.setRows(rows);
    const auto text = [&model](int row) { return model.index(row, JournalTableModel::Text).data().toString(); };
    EXPECT_EQ(text(0), QStringLiteral("Input Point  4  On"));
    int changed = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& first, const QModelIndex& last) {
        changed += first.row() == 0 && last.row() == model.rowCount() - 1 && first.column() == JournalTableModel::Text;
    });
    model.addRows({Row(11, "127.0.0.2", "13:00:00.900", 4)});
    EXPECT_EQ(changed, 1);
    for (int row = 0; row < 11; ++row)
        EXPECT_EQ(text(row), QStringLiteral("Input Point  4  On  [chattering]")) << row;
    EXPECT_EQ(text(11), QStringLiteral("Input Point  5  On"));
}

TEST(JournalTableModel, SortsByAColumnWithTiesInTimeOrder)
{
    JournalTableModel model;
    model.setRows({Row(1, "127.0.0.2", "13:00:02.000", 5), Row(2, "127.0.0.3", "13:00:01.000", 7),
        Row(3, "127.0.0.2", "13:00:00.000", 5)});
    model.sort(JournalTableModel::Point, Qt::DescendingOrder);
    EXPECT_EQ(Ids(model), (QList<qint64>{2, 3, 1}));
    model.sort(JournalTableModel::Point, Qt::AscendingOrder);
    EXPECT_EQ(Ids(model), (QList<qint64>{3, 1, 2}));
    // Added rows follow the order in force.
    model.addRows({Row(4, "127.0.0.2", "13:00:01.000", 6)});
    EXPECT_EQ(Ids(model), (QList<qint64>{3, 1, 4, 2}));
}

TEST(JournalTableModel, KeepsAtMostItsLimitDroppingTheEarliest)
{
    JournalTableModel model(3);
    model.setRows({Row(1, "127.0.0.2", "13:00:02.000", 1), Row(2, "127.0.0.2", "13:00:01.000", 1),
        Row(3, "127.0.0.2", "13:00:03.000", 1)});
    EXPECT_FALSE(model.droppedRows());
    model.addRows({Row(4, "127.0.0.2", "13:00:04.000", 1)});
    EXPECT_TRUE(model.droppedRows());
    EXPECT_EQ(Ids(model), (QList<qint64>{1, 3, 4}));
    // In another order the earliest in time still go.
    model.sort(JournalTableModel::Module, Qt::DescendingOrder);
    model.addRows({Row(5, "127.0.0.2", "13:00:00.500", 1), Row(6, "127.0.0.2", "13:00:05.000", 1)});
    EXPECT_EQ(Ids(model), (QList<qint64>{3, 4, 6}));
    // A dropped row is not held, so it could come back.
    EXPECT_EQ(model.addRows({Row(1, "127.0.0.2", "13:00:09.000", 1)}), 1);
}

} // namespace
} // namespace chronel
