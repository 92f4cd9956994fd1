// The Intel HEX line parser and the loader's status lines. Expected checksums
// of the lines below were computed with Python's bytes.fromhex, independently
// of the parser.
#include "core/flash/flash_loader.h"
#include "core/flash/intel_hex.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

#include <sys/resource.h>

namespace chronel {
namespace {

struct StoredByte {
    quint32 position;
    quint8 value;
};

struct LineCase {
    const char* name;
    const char* line;
    HexLineError error;
    quint32 baseBefore;
    quint32 baseAfter;
    quint32 bytesLoaded;
    std::vector<StoredByte> stored;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name << " " << c.line; }

class ParseLine : public testing::TestWithParam<LineCase> { };

TEST_P(ParseLine, ChecksStoresAndMovesTheBase)
{
    const LineCase& c = GetParam();
    FlashImage image;
    HexLoadState state{c.baseBefore, 7};
    EXPECT_EQ(ParseHexLine(QByteArrayView(c.line), state, image), c.error);
    EXPECT_EQ(state.segmentBase, c.baseAfter);
    EXPECT_EQ(state.bytesLoaded, 7 + c.bytesLoaded);

    std::size_t changed = 0;
    for (quint8 b : image.bytes())
        changed += b != ErasedFlashByte;
    std::size_t expectedChanged = 0;
    for (const StoredByte& s : c.stored) {
        EXPECT_EQ(image.at(s.position), s.value) << "position " << s.position;
        expectedChanged += s.value != ErasedFlashByte;
    }
    EXPECT_EQ(changed, expectedChanged) << "bytes stored elsewhere";
}

const LineCase LineCases[] = {
    {"DataRecord", ":0400100001020304E2", HexLineError::None, 0, 0, 4, {{0x10, 1}, {0x11, 2}, {0x12, 3}, {0x13, 4}}},
    {"DataAboveSegmentBase", ":0400100001020304E2", HexLineError::None, 0x10000, 0x10000, 4,
        {{0x10010, 1}, {0x10011, 2}, {0x10012, 3}, {0x10013, 4}}},
    {"LowerCaseDigits", ":04001000aabbccddde", HexLineError::None, 0, 0, 4,
        {{0x10, 0xAA}, {0x11, 0xBB}, {0x12, 0xCC}, {0x13, 0xDD}}},
    {"SixteenBytes", ":10000000000102030405060708090A0B0C0D0E0F78", HexLineError::None, 0, 0, 16,
        {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}, {10, 10}, {11, 11}, {12, 12},
            {13, 13}, {14, 14}, {15, 15}, {16, 0xFF}}},
    {"ErasedValueStillCounts", ":01000000FF00", HexLineError::None, 0, 0, 1, {{0, 0xFF}}},
    {"ExtendedSegmentAddress", ":020000021000EC", HexLineError::None, 0, 0x10000, 0, {}},
    {"ExtendedSegmentAddressReplacesBase", ":020000021000EC", HexLineError::None, 0x70000, 0x10000, 0, {}},
    {"ExtendedLinearAddress", ":020000040001F9", HexLineError::None, 0, 0x10000, 0, {}},
    {"ExtendedLinearAddressEight", ":020000040008F2", HexLineError::None, 0, 0x80000, 0, {}},
    {"EndOfFileIgnored", ":00000001FF", HexLineError::None, 0x20, 0x20, 0, {}},
    {"StartSegmentAddressIgnored", ":0400000300001234B3", HexLineError::None, 0, 0, 0, {}},
    {"StartLinearAddressIgnored", ":0400000512345678E3", HexLineError::None, 0, 0, 0, {}},
    {"LastImagePosition", ":0100000055AA", HexLineError::None, 0x80000, 0x80000, 1, {{0x80000, 0x55}}},
    {"HighestSegmentAddressInside", ":01FFFF00778A", HexLineError::None, 0x70000, 0x70000, 1, {{0x7FFFF, 0x77}}},

    {"ChecksumLastDigitChanged", ":0400100001020304E3", HexLineError::Checksum, 0, 0, 0, {}},
    {"NonHexCaughtByChecksum", ":04001000010Z0304E2", HexLineError::Checksum, 0, 0, 0, {}},
    {"NoColon", "0400100001020304E2X", HexLineError::StartingCharacter, 0, 0, 0, {}},
    {"NoColonElevenCharacters", "X0000001FFF", HexLineError::StartingCharacter, 0, 0, 0, {}},
    {"TenCharacters", ":00000001F", HexLineError::Length, 0, 0, 0, {}},
    {"ShortWithoutColon", "X123", HexLineError::Length, 0, 0, 0, {}},
    {"EmptyLine", "", HexLineError::Length, 0, 0, 0, {}},
    {"CountDisagreesWithLength", ":0500100001020304E2", HexLineError::Length, 0, 0, 0, {}},
    {"TrailingBlank", ":0400100001020304E2 ", HexLineError::Length, 0, 0, 0, {}},
    {"SegmentRecordWithoutItsTwoBytes", ":00000002FE", HexLineError::Length, 0x30, 0x30, 0, {}},
    {"LinearRecordWithoutItsTwoBytes", ":00000004FC", HexLineError::Length, 0x30, 0x30, 0, {}},
    {"DataPastTheLastPosition", ":02000000AABB99", HexLineError::Address, 0x80000, 0x80000, 0, {}},
    {"DataUnderAHighSegment", ":0100000011EE", HexLineError::Address, 0xF0000, 0xF0000, 0, {}},
    {"DataUnderTheHighestSegment", ":01FFFF008879", HexLineError::Address, 0xFFFF0, 0xFFFF0, 0, {}},
    {"DataUnderAHighLinearBase", ":0100000011EE", HexLineError::Address, 0xFFFF0000, 0xFFFF0000, 0, {}},
};

INSTANTIATE_TEST_SUITE_P(Lines, ParseLine, testing::ValuesIn(LineCases),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(HexDigits, ValuesAndOtherCharacters)
{
    const char* digits = "0123456789ABCDEF";
    const char* lower = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(HexDigitValue(digits[i]), i);
        EXPECT_EQ(HexDigitValue(lower[i]), i);
    }
    for (char c : {'G', 'g', 'Z', ' ', ':', '\0', char(0xFF), '/', '@', '`'})
        EXPECT_EQ(HexDigitValue(c), 0) << int(c);
}

struct MessageCase {
    HexLineError error;
    quint32 line;
    const char* text;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << int(c.error) << " line " << c.line; }

class LineErrorMessage : public testing::TestWithParam<MessageCase> { };

TEST_P(LineErrorMessage, NamesTheLineByTheNumberRule)
{
    EXPECT_EQ(HexLineErrorMessage(GetParam().error, GetParam().line), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Messages, LineErrorMessage,
    testing::Values(MessageCase{HexLineError::Length, 1, "Length error - Line  1"},
        MessageCase{HexLineError::StartingCharacter, 12, "Invalid starting character - Line  12"},
        MessageCase{HexLineError::Checksum, 1, "Checksum error - Line  1"},
        MessageCase{HexLineError::Address, 40000, "Address error - Line  40000"},
        MessageCase{HexLineError::Length, 70000, "Length error - Line  70000"},
        MessageCase{HexLineError::None, 3, ""}));

// --- the loader on a file in memory ---

struct Loaded {
    FlashLoadResult result;
    QStringList lines;
    int hookCalls = 0;
};

Loaded Load(const QByteArray& content, FlashImage& image, const QString& name = QStringLiteral("fw.hex"))
{
    QBuffer file;
    file.setData(content);
    file.open(QIODevice::ReadOnly);
    FlashStatus status;
    status.replace(QStringLiteral("text of an earlier load"));
    Loaded out;
    out.result = LoadHexFile(file, name, image, status, [&out] { ++out.hookCalls; });
    out.lines = status.lines();
    EXPECT_FALSE(file.isOpen()) << "the loader closes the file";
    return out;
}

QStringList Framed(const QString& name, const QStringList& middle)
{
    QStringList lines{QStringLiteral("Initalizing flash image"), QStringLiteral("Opening ") + name,
        QStringLiteral("Reading flash data")};
    lines << middle << QStringLiteral("Closing flash data file");
    return lines;
}

TEST(LoadHexFile, GoodFileReportsTheBytesLoaded)
{
    FlashImage image;
    const Loaded l = Load(":020000021000EC\r\n:0400100001020304E2\r\n:0100000011EE\r\n:00000001FF\r\n", image,
        QStringLiteral("/tmp/a b/fw.hex"));
    EXPECT_TRUE(l.result.ok);
    EXPECT_EQ(l.result.bytesLoaded, 5u);
    EXPECT_EQ(l.result.lines, 4u);
    EXPECT_EQ(l.lines, Framed(QStringLiteral("/tmp/a b/fw.hex"), {QStringLiteral("Loaded  5 bytes -  No errors")}));
    EXPECT_EQ(image.at(0x10010), 1);
    EXPECT_EQ(image.at(0x10013), 4);
    EXPECT_EQ(image.at(0x10000), 0x11);
    EXPECT_EQ(image.at(0x10), ErasedFlashByte);
    // Once after "Reading flash data" and before every read, the last one
    // finding the end of the file.
    EXPECT_EQ(l.hookCalls, 1 + 4 + 1);
}

TEST(LoadHexFile, EveryBadLineIsReportedAndTheLoadFails)
{
    FlashImage image;
    const Loaded l = Load(":0400100001020304E3\n" // 1 checksum
                          ":0100000011EE\n"       // 2 good, still stored
                          "short\n"               // 3 length
                          "0400100001020304E2X\n" // 4 starting character
                          ":0500100001020304E2\n" // 5 length (count)
                          ":020000021000EC\n"     // 6 segment 0x10000
                          "\n"                    // 7 length
                          ":020000020F00EF\n"     // 8 checksum (wrong on purpose)
                          ":02000002F0000C\n"     // 9 segment 0xF0000
                          ":0100000011EE\n",      // 10 address
        image);
    EXPECT_FALSE(l.result.ok);
    EXPECT_EQ(l.lines,
        Framed(QStringLiteral("fw.hex"),
            {QStringLiteral("Checksum error - Line  1"), QStringLiteral("Length error - Line  3"),
                QStringLiteral("Invalid starting character - Line  4"), QStringLiteral("Length error - Line  5"),
                QStringLiteral("Length error - Line  7"), QStringLiteral("Checksum error - Line  8"),
                QStringLiteral("Address error - Line  10"), QStringLiteral("Flash file load error")}));
    EXPECT_EQ(image.at(0), 0x11) << "good lines keep what they stored";
    EXPECT_EQ(image.at(0x10), ErasedFlashByte);
}

TEST(LoadHexFile, FirstLineWithAChangedChecksumDigit)
{
    FlashImage image;
    const Loaded l = Load(":0400100001020304E3\r\n", image);
    EXPECT_EQ(l.lines.mid(3, 2),
        (QStringList{QStringLiteral("Checksum error - Line  1"), QStringLiteral("Flash file load error")}));
}

TEST(LoadHexFile, EmptyFileLoadsNothingWithoutError)
{
    FlashImage image;
    const Loaded l = Load({}, image);
    EXPECT_TRUE(l.result.ok);
    EXPECT_EQ(l.lines, Framed(QStringLiteral("fw.hex"), {QStringLiteral("Loaded  0 bytes -  No errors")}));
}

TEST(LoadHexFile, SecondLoadStartsFromBaseZeroOnAnErasedImage)
{
    FlashImage image;
    ASSERT_TRUE(Load(":020000021000EC\n:0400100001020304E2\n", image).result.ok);
    ASSERT_EQ(image.at(0x10010), 1);
    const Loaded second = Load(":0400100001020304E2\n", image);
    EXPECT_TRUE(second.result.ok);
    EXPECT_EQ(second.result.bytesLoaded, 4u) << "the count starts again";
    EXPECT_EQ(image.at(0x10), 1);
    EXPECT_EQ(image.at(0x10010), ErasedFlashByte) << "the first load's bytes are gone";
}

TEST(LoadHexFile, LinearAddressRecordsPlaceTheData)
{
    FlashImage image;
    const Loaded l = Load(":020000040001F9\n:0400100001020304E2\n:020000040000FA\n:0100000011EE\n", image);
    EXPECT_TRUE(l.result.ok);
    EXPECT_EQ(image.at(0x10010), 1);
    EXPECT_EQ(image.at(0x10013), 4);
    EXPECT_EQ(image.at(0), 0x11);
}

TEST(LoadHexFile, AnyLineEndAndAMissingLastOne)
{
    FlashImage image;
    // LF, CR, CR LF, and a last line without an end; the blank line between
    // the CR and the CR LF lines is a line of its own.
    const Loaded l = Load(":0100000011EE\n:0100010022DC\r\r\n:0100020033CA\r\n:0100030044B8", image);
    EXPECT_FALSE(l.result.ok);
    EXPECT_EQ(l.result.lines, 5u);
    EXPECT_EQ(l.lines.mid(3, 1), QStringList{QStringLiteral("Length error - Line  3")});
    for (quint32 p = 0; p < 4; ++p)
        EXPECT_EQ(image.at(p), 0x11 * (p + 1)) << p;
}

TEST(LoadHexFile, ALineLongerThanTheLongestRecordEndsTheLoad)
{
    // 255 data bytes of 0x11: the longest record, 521 characters.
    const QByteArray longest = ":FF000000" + QByteArray(255, 'X').replace("X", "11") + "12";
    ASSERT_EQ(longest.size(), 521);
    FlashImage image;
    const Loaded l = Load(longest + "\r\n" + longest + "0\r\n:0100000022DD\r\n", image);
    EXPECT_FALSE(l.result.ok);
    EXPECT_EQ(l.result.lines, 2u);
    EXPECT_EQ(l.lines,
        Framed(QStringLiteral("fw.hex"),
            {QStringLiteral("Length error - Line  2"), QStringLiteral("Flash file load error")}));
    EXPECT_EQ(image.at(0), 0x11) << "the longest record is read; the line after the overlong one is not";
    EXPECT_EQ(image.at(254), 0x11);

    const Loaded noColon = Load(QByteArray(100000, 'X') + "\n:0100000022DD\n", image);
    EXPECT_EQ(noColon.lines.mid(3),
        (QStringList{QStringLiteral("Invalid starting character - Line  1"), QStringLiteral("Flash file load error"),
            QStringLiteral("Closing flash data file")}));
    EXPECT_EQ(image.at(0), ErasedFlashByte);
}

// A binary image chosen by mistake: 50 MB without a line end. The window runs
// after every bounded piece of input, the memory stays small, and the load
// ends at the first line with an error for it.
TEST(LoadHexFile, AFileWithoutLineEndsEndsPromptlyWithAnErrorOnLineOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("image.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray block = ":" + QByteArray(1024 * 1024 - 1, 'F');
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(file.write(block), block.size());
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));

    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    FlashImage image;
    FlashStatus status;
    qint64 lastPosition = 0;
    qint64 mostReadBetweenHooks = 0;
    const FlashLoadResult result = LoadHexFile(file, file.fileName(), image, status, [&] {
        mostReadBetweenHooks = std::max(mostReadBetweenHooks, file.pos() - lastPosition);
        lastPosition = file.pos();
    });
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.lines, 1u);
    EXPECT_EQ(status.lines().mid(3),
        (QStringList{QStringLiteral("Length error - Line  1"), QStringLiteral("Flash file load error"),
            QStringLiteral("Closing flash data file")}));
    EXPECT_LE(mostReadBetweenHooks, 128 * 1024) << "bytes read while the window could not run";
    EXPECT_LE(lastPosition, 128 * 1024) << "the rest of the file is not read";
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024) << "peak resident memory grew (KiB)";
}

// A text file chosen by mistake: a bad line each, millions of them, would
// put each one into the status text.
TEST(LoadHexFile, TheFirstHundredBadLinesAreListedAndTheRestCounted)
{
    FlashImage image;
    QByteArray content = ":0100000011EE\n";
    for (int i = 0; i < 1000; ++i)
        content += "notes\n";
    const Loaded l = Load(content, image);
    EXPECT_FALSE(l.result.ok);
    ASSERT_EQ(l.lines.size(), 3 + 100 + 3);
    EXPECT_EQ(l.lines[3], QStringLiteral("Length error - Line  2"));
    EXPECT_EQ(l.lines[102], QStringLiteral("Length error - Line  101"));
    EXPECT_EQ(l.lines.mid(103),
        (QStringList{QStringLiteral("900 more bad lines not listed"), QStringLiteral("Flash file load error"),
            QStringLiteral("Closing flash data file")}));
    EXPECT_EQ(image.at(0), 0x11);
}

TEST(LoadHexFile, LineNumbersPastSixteenBits)
{
    FlashImage image;
    QByteArray content;
    for (int i = 0; i < 70000; ++i)
        content += ":00000001FF\n";
    content += "bad\n";
    const Loaded l = Load(content, image);
    EXPECT_EQ(l.lines.mid(3, 1), QStringList{QStringLiteral("Length error - Line  70001")});
}

} // namespace
} // namespace chronel
