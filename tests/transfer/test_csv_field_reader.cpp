// The settings file's field reader on crafted inputs: quoting, blanks, the
// three kinds of line end, and inputs that must end the reading cleanly
// (unterminated quotes, NUL bytes, lines too long, an empty file).
#include "core/transfer/csv_field_reader.h"

#include "support/qt_printers.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace chronel;

namespace {

using Status = CsvFieldReader::Status;

struct ReaderCase {
    const char* name;
    std::string input;
    std::vector<std::string> fields; // texts in order
    Status last;                     // what follows the last field
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

class CsvFieldReaderTable : public ::testing::TestWithParam<ReaderCase> { };

TEST_P(CsvFieldReaderTable, ReadsTheFieldsInOrder)
{
    const ReaderCase& c = GetParam();
    QByteArray bytes(c.input.data(), qsizetype(c.input.size()));
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    CsvFieldReader reader(buffer);
    std::vector<std::string> got;
    CsvField field;
    Status status;
    // A bound on the calls: a reader that does not advance fails here
    // instead of hanging.
    for (int i = 0; i < 100 && (status = reader.next(field)) == Status::Ok; ++i)
        got.push_back(field.text.toLatin1().toStdString());
    EXPECT_EQ(got, c.fields);
    EXPECT_EQ(status, c.last);
}

const std::string LongLine = std::string(CsvFieldReader::MaxLineLength + 10, 'x');

INSTANTIATE_TEST_SUITE_P(Fields, CsvFieldReaderTable,
    ::testing::Values(ReaderCase{"QuotedKeepsCommas", "\"a,b\",c\r\n", {"a,b", "c"}, Status::EndOfFile},
        ReaderCase{"BlanksAroundUnquotedDropped", "  x y  ,\t7 \r\n", {"x y", "7"}, Status::EndOfFile},
        ReaderCase{"BlanksInsideQuotesKept", "\" Point  1 \",\"\"\r\n", {" Point  1 ", ""}, Status::EndOfFile},
        ReaderCase{"TextAfterClosingQuoteIgnored", "\"abc\"def,g\r\n", {"abc", "g"}, Status::EndOfFile},
        ReaderCase{"CommaBeforeLineEndGivesEmptyField", "a,\r\nb\r\n", {"a", "", "b"}, Status::EndOfFile},
        ReaderCase{"EmptyFieldsBetweenCommas", "a,,b\r\n", {"a", "", "b"}, Status::EndOfFile},
        ReaderCase{"LineEndsCrLfLfCr", "a\r\nb\nc\rd", {"a", "b", "c", "d"}, Status::EndOfFile},
        ReaderCase{"BlankLinesBetweenRecordsSkipped", "a\r\n\r\n   \r\nb\r\n", {"a", "b"}, Status::EndOfFile},
        ReaderCase{"RecordsRunAcrossLines", "\"k\",1\r\n2,3\r\n", {"k", "1", "2", "3"}, Status::EndOfFile},
        ReaderCase{"UnterminatedQuoteEndsAtLineEnd", "\"abc\r\n\"next\"\r\n", {"abc", "next"}, Status::EndOfFile},
        ReaderCase{"UnterminatedQuoteEndsAtFileEnd", "\"abc", {"abc"}, Status::EndOfFile},
        ReaderCase{"NoLineEndAtFileEnd", "a,b", {"a", "b"}, Status::EndOfFile},
        ReaderCase{"NulIsACharacter", std::string("a\0b,\"c\0\"\r\n", 10),
            {std::string("a\0b", 3), std::string("c\0", 2)}, Status::EndOfFile},
        ReaderCase{"HighBytesAreLatin1", "\"caf\xe9\"\r\n", {"caf\xe9"}, Status::EndOfFile},
        ReaderCase{"EmptyFile", "", {}, Status::EndOfFile},
        ReaderCase{"OnlyLineEnds", "\r\n\r\n\n", {}, Status::EndOfFile},
        ReaderCase{"LineTooLong", "a\r\n" + LongLine + "\r\n", {"a"}, Status::LineTooLong},
        ReaderCase{"QuotedLineTooLong", "\"" + LongLine + "\"", {}, Status::LineTooLong}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return std::string(info.param.name); });

TEST(CsvFieldReader, ALineOfManyShortFieldsStopsAtTheLengthBound)
{
    QByteArray bytes = "a" + QByteArray(CsvFieldReader::MaxLineLength, ',') + "\r\n";
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    CsvFieldReader reader(buffer);
    CsvField field;
    Status status;
    qsizetype fields = 0;
    while ((status = reader.next(field)) == Status::Ok && fields <= CsvFieldReader::MaxLineLength + 1)
        ++fields;
    EXPECT_EQ(status, Status::LineTooLong);
    // "a" and 65535 commas fit the bound; the last comma is one too many.
    EXPECT_EQ(fields, CsvFieldReader::MaxLineLength - 1);
}

TEST(CsvFieldReader, TellsQuotedFromUnquotedFields)
{
    QByteArray bytes("\"20\",20\r\n");
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    CsvFieldReader reader(buffer);
    CsvField a, b;
    ASSERT_EQ(reader.next(a), Status::Ok);
    ASSERT_EQ(reader.next(b), Status::Ok);
    EXPECT_TRUE(a.quoted);
    EXPECT_FALSE(b.quoted);
    EXPECT_EQ(a.text, b.text);
}

} // namespace
