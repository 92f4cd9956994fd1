// Status channels out as COMTRADE records, read back with a reader of the
// format's own (comtrade_reader.h), in both data file formats.
#include "comtrade_reader.h"

#include "journal/comtrade.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace chronel::test {
namespace {

const QDateTime kStart(QDate(2024, 3, 5), QTime(10, 20, 30, 123), Qt::UTC);

ComtradeRecording Recording(int channels)
{
    ComtradeRecording r;
    r.station = QStringLiteral("North Bay");
    r.device = QStringLiteral("SER 1");
    r.company = QStringLiteral("Chronel Power");
    for (int i = 0; i < channels; ++i)
        r.channels.push_back({QStringLiteral("Input %1").arg(i + 1), QString(), QString(), i % 2});
    r.from = kStart;
    r.to = kStart.addSecs(60);
    return r;
}

// Each channel's state after every sample as the recording means it: the
// initial states, then each change in turn, then the last states again.
std::vector<std::vector<int>> ExpectedStates(const ComtradeRecording& r)
{
    std::vector<int> states = r.initialStates;
    states.resize(r.channels.size(), 0);
    std::vector<std::vector<int>> samples{states};
    for (const ComtradeChange& change : r.changes) {
        states[std::size_t(change.channel)] = change.state;
        samples.push_back(states);
    }
    samples.push_back(states);
    return samples;
}

std::vector<qint64> ExpectedMicroseconds(const ComtradeRecording& r)
{
    std::vector<qint64> times{0};
    for (const ComtradeChange& change : r.changes)
        times.push_back(r.from.msecsTo(change.utc) * 1000);
    times.push_back(r.from.msecsTo(r.to) * 1000);
    return times;
}

class Comtrade : public ::testing::TestWithParam<ComtradeFormat> {
protected:
    // Writes the recording and reads it back; a failure of either fails the test.
    std::optional<ComtradeRead> roundTrip(const ComtradeRecording& r)
    {
        QString error;
        ComtradeFiles files;
        if (!WriteComtrade(r, dir_.path(), GetParam(), &files, &error)) {
            ADD_FAILURE() << "write: " << qPrintable(error);
            return std::nullopt;
        }
        auto read = ReadComtrade(files.cfgPath, &error);
        if (!read)
            ADD_FAILURE() << "read: " << qPrintable(error);
        return read;
    }

    // Every sample, in order: numbered 1 up, at its change's time, with
    // every channel's state.
    void expectSamples(const ComtradeRecording& r, const ComtradeRead& read)
    {
        const auto states = ExpectedStates(r);
        const auto times = ExpectedMicroseconds(r);
        ASSERT_EQ(read.samples.size(), states.size());
        for (std::size_t i = 0; i < read.samples.size(); ++i) {
            const DatSample& s = read.samples[i];
            ASSERT_EQ(s.number, i + 1);
            ASSERT_EQ(read.microseconds(s), double(times[i])) << "sample " << i + 1;
            ASSERT_EQ(s.states, states[i]) << "sample " << i + 1;
        }
    }

    QTemporaryDir dir_;
};

TEST_P(Comtrade, TenThousandChangesOneMillisecondApartKeepTheirOrder)
{
    // Twenty channels: the binary samples take two status words.
    ComtradeRecording r = Recording(20);
    r.initialStates = {1, 0, 1};
    r.timeQuality = 11;
    r.leapSecond = true;
    std::vector<int> states(20, 0);
    for (int i = 0; i < 10000; ++i) {
        const int channel = (i * 7) % 20;
        states[std::size_t(channel)] ^= 1;
        r.changes.push_back({kStart.addMSecs(i + 1), channel, states[std::size_t(channel)]});
    }
    r.to = kStart.addMSecs(10001);

    const auto read = roundTrip(r);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->station, r.station);
    EXPECT_EQ(read->device, r.device);
    EXPECT_EQ(read->revYear, 2013);
    ASSERT_EQ(read->channels.size(), 20u);
    EXPECT_EQ(read->channels[19].id, QStringLiteral("Input 20"));
    EXPECT_EQ(read->channels[1].normalState, 1);
    EXPECT_EQ(read->lineFrequency, 50);
    EXPECT_EQ(read->nrates, 0);
    EXPECT_EQ(read->rates.back().second, 10002u);
    EXPECT_EQ(read->first.utc, kStart);
    EXPECT_EQ(read->first.microseconds, 123000);
    EXPECT_EQ(read->trigger.utc, kStart.addMSecs(1));
    EXPECT_EQ(read->fileType, GetParam() == ComtradeFormat::Ascii ? QStringLiteral("ASCII") : QStringLiteral("BINARY"));
    EXPECT_EQ(read->timeCode, QStringLiteral("0"));
    EXPECT_EQ(read->localCode, QStringLiteral("0"));
    EXPECT_EQ(read->timeQuality, 11);
    EXPECT_EQ(read->leapSecond, 1);
    expectSamples(r, *read);
}

TEST_P(Comtrade, ChangesInOneMillisecondStaySeparateSamples)
{
    ComtradeRecording r = Recording(3);
    const QDateTime at = kStart.addMSecs(500);
    r.changes = {{at, 0, 1}, {at, 2, 1}, {at.addMSecs(1), 1, 1}, {at.addMSecs(1), 1, 0}, {at.addMSecs(1), 0, 0}};

    const auto read = roundTrip(r);
    ASSERT_TRUE(read);
    expectSamples(r, *read);
}

// No changes: the initial states at the start and again at the end.
TEST_P(Comtrade, APeriodWithoutChangesHasTheInitialStatesOnly)
{
    ComtradeRecording r = Recording(17);
    r.initialStates = std::vector<int>(17, 1);
    r.initialStates[16] = 0;

    const auto read = roundTrip(r);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->trigger.utc, kStart);
    expectSamples(r, *read);
}

// A cfg field cannot hold a comma or a line break: they become ';' and a
// space; over-long text is cut at a character's boundary.
TEST_P(Comtrade, TextFieldsKeepToTheFieldSyntax)
{
    ComtradeRecording r = Recording(3);
    r.station = QStringLiteral("North, Bay");
    r.channels[0] = {
        QStringLiteral("Breaker 1, trip coil"), QStringLiteral("A,"), QStringLiteral("Line 4,\r\nbay 2"), 1};
    // Two and three bytes a character in UTF-8: 64 bytes fall inside one.
    r.channels[1].name = QStringLiteral("x") + QString(70, QChar(0xE9));
    r.channels[2].name = QStringLiteral("xy") + QString(40, QChar(0x20AC));
    r.changes = {{kStart.addMSecs(5), 0, 1}};

    const auto read = roundTrip(r);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->station, QStringLiteral("North; Bay"));
    EXPECT_EQ(read->channels[0].id, QStringLiteral("Breaker 1; trip coil"));
    EXPECT_EQ(read->channels[0].phase, QStringLiteral("A;"));
    EXPECT_EQ(read->channels[0].component, QStringLiteral("Line 4;  bay 2"));
    EXPECT_EQ(read->channels[1].id, QStringLiteral("x") + QString(31, QChar(0xE9)));
    EXPECT_EQ(read->channels[2].id, QStringLiteral("xy") + QString(20, QChar(0x20AC)));
    expectSamples(r, *read);
}

// Past some 49.7 days milliseconds overflow a stamp; coarser stamps must
// still place each sample within one stamp unit, in order.
TEST_P(Comtrade, APeriodOfMonthsFitsTheStamps)
{
    ComtradeRecording r = Recording(2);
    r.to = kStart.addDays(200);
    r.changes = {{kStart.addMSecs(1), 0, 1}, {kStart.addDays(120), 1, 1}, {r.to, 0, 0}};

    const auto read = roundTrip(r);
    ASSERT_TRUE(read);
    const auto times = ExpectedMicroseconds(r);
    ASSERT_EQ(read->samples.size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
        const double at = read->microseconds(read->samples[i]);
        EXPECT_LE(at, double(times[i])) << "sample " << i + 1;
        EXPECT_GT(at + read->timeMultiplier, double(times[i])) << "sample " << i + 1;
    }
    EXPECT_EQ(read->samples.back().states, (std::vector<int>{0, 1}));
}

INSTANTIATE_TEST_SUITE_P(Formats, Comtrade, ::testing::Values(ComtradeFormat::Ascii, ComtradeFormat::Binary),
    [](const auto& info) { return std::string(info.param == ComtradeFormat::Ascii ? "Ascii" : "Binary"); });

TEST(ComtradeFileName, FollowsComname)
{
    ComtradeRecording r = Recording(1);
    // 11:20:30.123 an hour east of UTC is 10:20:30.123 UTC.
    r.from = QDateTime(QDate(2024, 3, 5), QTime(11, 20, 30, 123), Qt::OffsetFromUTC, 3600);
    r.station = QStringLiteral("North Bay/2");
    r.device = QStringLiteral("SER:1.a");
    r.company = QStringLiteral("Chronel, \"Power\"");
    EXPECT_EQ(ComtradeFileName(r), QStringLiteral("240305,102030123,0,North_Bay_2,SER_1_a,Chronel___Power_"));
    r.company.clear();
    EXPECT_EQ(ComtradeFileName(r), QStringLiteral("240305,102030123,0,North_Bay_2,SER_1_a"));
    r.station = QString(40, QChar(0x00FC)); // 80 bytes in UTF-8
    EXPECT_EQ(ComtradeFileName(r),
        QStringLiteral("240305,102030123,0,") + QString(32, QChar(0x00FC)) + QStringLiteral(",SER_1_a"));

    QTemporaryDir dir;
    ComtradeFiles files;
    QString error;
    ASSERT_TRUE(WriteComtrade(r, dir.path(), ComtradeFormat::Ascii, &files, &error)) << qPrintable(error);
    EXPECT_EQ(files.cfgPath, dir.filePath(ComtradeFileName(r) + QStringLiteral(".cfg")));
    EXPECT_EQ(files.datPath, dir.filePath(ComtradeFileName(r) + QStringLiteral(".dat")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

// A failed write says which folder and why, and leaves no file.
TEST(ComtradeWrite, FailsOnAFolderItCannotWriteIn)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("no such folder"));
    const QString file = dir.filePath(QStringLiteral("a file"));
    ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    // Not even root creates files in /proc.
    for (const QString& folder : {missing, file, QStringLiteral("/proc")}) {
        QString error;
        ComtradeFiles files;
        EXPECT_FALSE(WriteComtrade(Recording(2), folder, ComtradeFormat::Binary, &files, &error)) << qPrintable(folder);
        EXPECT_TRUE(error.contains(folder)) << qPrintable(error);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST(ComtradeWrite, RefusesWhatARecordCannotHold)
{
    const auto refused = [](const ComtradeRecording& r, const char* reason) {
        QTemporaryDir dir;
        QString error;
        EXPECT_FALSE(WriteComtrade(r, dir.path(), ComtradeFormat::Ascii, nullptr, &error)) << reason;
        EXPECT_TRUE(error.contains(QLatin1String(reason))) << qPrintable(error);
        EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::Files)) << reason;
    };
    ComtradeRecording r = Recording(2);
    r.changes = {{kStart.addMSecs(2), 0, 1}, {kStart.addMSecs(1), 1, 1}};
    refused(r, "comes before");
    r.changes = {{kStart.addSecs(61), 0, 1}};
    refused(r, "outside the period");
    r.changes = {{kStart, 2, 1}};
    refused(r, "channel index 2");
    r.changes = {{kStart, 0, 2}};
    refused(r, "state 2");
    r = Recording(0);
    refused(r, "no status channel");
    r = Recording(1);
    r.to = kStart.addMSecs(-1);
    refused(r, "before it starts");
    r = Recording(1);
    r.station = QStringLiteral(" ");
    refused(r, "station name is empty");
}

} // namespace
} // namespace chronel::test
