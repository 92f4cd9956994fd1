// The three ways out of the journal, byte for byte where a program reads them.
#include "journal_backend.h"

#include "journal/journal_format.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace chronel::test {
namespace {

JournalEvent Sample()
{
    JournalEvent event;
    event.id = 42;
    event.module = QStringLiteral("127.0.0.2");
    event.moduleName = QStringLiteral("North, bay 4");
    event.moduleTime = QStringLiteral("2024-03-01T13:05:07.042");
    event.dateSource = QStringLiteral("date record");
    event.point = 5;
    event.pointDescription = QStringLiteral("Breaker \"A\"");
    event.stateText = QStringLiteral("On");
    event.text = QStringLiteral("2024-03-01  13:05:07.042  S  G   Input Point  5  \"On\", now");
    event.quality = 3;
    event.scanFlags = 2;
    event.received = QDateTime(QDate(2024, 3, 1), QTime(13, 5, 8, 9), Qt::UTC);
    event.raw = QByteArray::fromHex("0105ff00");
    return event;
}

QByteArray Written(JournalFormat format, const QList<JournalEvent>& events)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    JournalWriter writer(&buffer, format);
    QString error;
    EXPECT_TRUE(writer.begin(&error)) << error;
    for (const auto& event : events)
        EXPECT_TRUE(writer.write(event, &error)) << error;
    return buffer.data();
}

TEST(JournalFormatCsv, HeaderAndQuotedFields)
{
    JournalEvent plain = Sample();
    plain.moduleName = QStringLiteral("South");
    plain.text = QStringLiteral("Power on Reset");
    plain.stateText = QStringLiteral("two\nlines");
    plain.moduleId = 7;
    plain.marks = QStringLiteral("malformed, no line");
    EXPECT_EQ(Written(JournalFormat::Csv, {Sample(), plain}),
        QByteArray(
            "module,name,module_time,point,state,text,quality,received,date_source,module_id,marks,utc_time,zone,"
            "clock_source,clock_quality,clock_offset_ms,clock_marks\r\n"
            "127.0.0.2,\"North, bay 4\",2024-03-01T13:05:07.042,5,On,"
            "\"2024-03-01  13:05:07.042  S  G   Input Point  5  \"\"On\"\", now\",3,2024-03-01T13:05:08.009Z,"
            "date record,,,,,,,,\r\n"
            "127.0.0.2,South,2024-03-01T13:05:07.042,5,\"two\nlines\",Power on Reset,3,2024-03-01T13:05:08.009Z,"
            "date record,7,\"malformed, no line\",,,,,,\r\n"));
}

TEST(JournalFormatJsonl, EveryFieldOnItsOwnLine)
{
    JournalEvent second = Sample();
    second.text = QStringLiteral("line\nbreak");
    const QList<QByteArray> lines = Written(JournalFormat::Jsonl, {Sample(), second}).split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].isEmpty());
    QJsonParseError parse;
    const QJsonObject first = QJsonDocument::fromJson(lines[0], &parse).object();
    ASSERT_EQ(parse.error, QJsonParseError::NoError) << parse.errorString();
    EXPECT_EQ(first.value("id").toInteger(), 42);
    EXPECT_EQ(first.value("module").toString(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(first.value("name").toString(), QStringLiteral("North, bay 4"));
    EXPECT_EQ(first.value("module_time").toString(), QStringLiteral("2024-03-01T13:05:07.042"));
    EXPECT_EQ(first.value("date_source").toString(), QStringLiteral("date record"));
    EXPECT_EQ(first.value("point").toInt(), 5);
    EXPECT_EQ(first.value("point_description").toString(), QStringLiteral("Breaker \"A\""));
    EXPECT_EQ(first.value("state").toString(), QStringLiteral("On"));
    EXPECT_EQ(first.value("text").toString(), Sample().text);
    EXPECT_EQ(first.value("quality").toInt(), 3);
    EXPECT_EQ(first.value("scan_flags").toInt(), 2);
    EXPECT_EQ(first.value("received").toString(), QStringLiteral("2024-03-01T13:05:08.009Z"));
    EXPECT_EQ(first.value("raw").toString(), QStringLiteral("0105ff00"));
    EXPECT_TRUE(first.value("module_id").isNull());
    EXPECT_EQ(first.value("block").toInteger(), 0);
    EXPECT_EQ(first.value("marks").toString(), QString());
    EXPECT_EQ(first.value("clock_marks").toString(), QString());
    EXPECT_EQ(first.size(), 23);
    EXPECT_EQ(QJsonDocument::fromJson(lines[1]).object().value("text").toString(), QStringLiteral("line\nbreak"));
}

TEST(JournalFormatText, NameOrAddressThenTheLine)
{
    JournalEvent unnamed = Sample();
    unnamed.moduleName.clear();
    unnamed.text = QStringLiteral("Power on Reset");
    unnamed.marks = QStringLiteral("malformed");
    EXPECT_EQ(Written(JournalFormat::Text, {Sample(), unnamed}),
        QByteArray("North, bay 4  2024-03-01  13:05:07.042  S  G   Input Point  5  \"On\", now\n"
                   "127.0.0.2  Power on Reset  [malformed]\n"));
}

// A row whose module clock could not be trusted says why in every format;
// the threshold for the offset is the reader's.
TEST(JournalFormatClock, DoubtfulClocksAreMarkedEverywhere)
{
    JournalEvent internal = Sample();
    internal.moduleName = QStringLiteral("South");
    internal.clockSource = 0x08; // internal clock, GPS seen
    internal.clockQuality = 2;
    internal.clockOffsetMs = -3200;
    internal.marks = QStringLiteral("malformed");
    JournalEvent good = Sample();
    good.clockSource = 1;
    good.clockQuality = 1;
    good.clockOffsetMs = 1500;
    EXPECT_EQ(ClockStateText(internal), QStringLiteral("internal clock (GPS seen), poor, -3.2 s"));
    EXPECT_EQ(ClockStateText(good), QStringLiteral("GPS, fair, +1.5 s"));
    EXPECT_EQ(ClockStateText(Sample()), QStringLiteral("unknown"));
    const QByteArray text = Written(JournalFormat::Text, {internal, good});
    EXPECT_TRUE(text.contains("Input Point  5  \"On\", now  [malformed, clock not synchronised, clock quality poor, "
                              "clock off by 3.2 s]\n"))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("\"On\", now\n")) << text.toStdString();
    EXPECT_TRUE(Written(JournalFormat::Csv, {internal})
                    .endsWith(",8,2,-3200,\"clock not synchronised, clock quality poor, clock off by 3.2 s\"\r\n"));
    EXPECT_EQ(QJsonDocument::fromJson(Written(JournalFormat::Jsonl, {good})).object().value("clock_marks"),
        QStringLiteral(""));
    EXPECT_EQ(ClockDoubts(good, 1000), QStringLiteral("clock off by 1.5 s"));
    JournalEvent bad = good;
    bad.clockQuality = 3;
    bad.clockSource = 5; // no such source
    EXPECT_EQ(ClockDoubts(bad), QStringLiteral("clock not synchronised, clock quality bad"));
}

// A module's texts hold what the module sent: each output stays one row per
// event, moves no terminal and starts no spreadsheet formula.
TEST(JournalFormatHostileTexts, StayDataInEveryFormat)
{
    JournalEvent hostile = Sample();
    hostile.moduleName = QStringLiteral("=HYPERLINK(\"http://x\")");
    hostile.stateText = QStringLiteral("-2+3");
    hostile.pointDescription = QStringLiteral("@SUM(A1)");
    hostile.text = QStringLiteral("\x1b]0;owned\x07Point\r\n127.0.0.9  forged") + QChar(0x7f) + QChar(0x9b);
    JournalEvent negative = Sample();
    negative.quality = -1;
    negative.moduleName = QStringLiteral("\t+cmd");

    EXPECT_EQ(Written(JournalFormat::Text, {hostile}),
        QByteArray("=HYPERLINK(\"http://x\")  \\x1b]0;owned\\x07Point\\x0d\\x0a127.0.0.9  forged\\x7f\\x9b\n"));

    const QList<QByteArray> csv = Written(JournalFormat::Csv, {hostile, negative}).split('\n');
    EXPECT_EQ(csv[1],
        "127.0.0.2,\"'=HYPERLINK(\"\"http://x\"\")\",2024-03-01T13:05:07.042,5,'-2+3,"
        "\"\\x1b]0;owned\\x07Point\r");
    EXPECT_EQ(csv[2], "127.0.0.9  forged\\x7f\\x9b\",3,2024-03-01T13:05:08.009Z,date record,,,,,,,,\r");
    EXPECT_EQ(csv[3],
        "127.0.0.2,'\t+cmd,2024-03-01T13:05:07.042,5,On,\"2024-03-01  13:05:07.042  S  G   Input Point  5  "
        "\"\"On\"\", now\",-1,2024-03-01T13:05:08.009Z,date record,,,,,,,,\r");

    const QByteArray json = Written(JournalFormat::Jsonl, {hostile});
    EXPECT_FALSE(std::any_of(json.begin(), json.end() - 1, [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    }));
    EXPECT_FALSE(json.contains("\xc2\x9b")) << "a C1 control in UTF-8";
    EXPECT_EQ(QJsonDocument::fromJson(json).object().value("text").toString(), hostile.text);
}

TEST(JournalFormatErrors, NamesAndWrites)
{
    QString error;
    EXPECT_EQ(ParseJournalFormat(QStringLiteral("jsonl"), &error), JournalFormat::Jsonl);
    EXPECT_EQ(ParseJournalFormat(QStringLiteral("csv"), &error), JournalFormat::Csv);
    EXPECT_EQ(ParseJournalFormat(QStringLiteral("text"), &error), JournalFormat::Text);
    EXPECT_FALSE(ParseJournalFormat(QStringLiteral("xml"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("\"xml\""))) << error;

    // A device that takes nothing.
    QBuffer closed;
    JournalWriter writer(&closed, JournalFormat::Csv);
    EXPECT_FALSE(writer.begin(&error));
    EXPECT_FALSE(writer.write(Sample(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot write"))) << error;
}

} // namespace
} // namespace chronel::test
