// The package's zip as another implementation reads it: Python's zipfile
// checks every member's CRC and extracts what was put in, deflated or
// stored, with UTF-8 names in folders; names that would leave the folder an
// archive is extracted into are refused.
#include "web_test.h"
#include "zip_extract.h"

#include "web/zip_writer.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace chronel {
namespace {

const QDateTime When(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::UTC);

TEST(ZipWriter, AnotherReaderExtractsWhatWasPutIn)
{
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "2026-03-14T15:09:26.535,127.0.0.2,Feeder 7,On\r\n";
    QByteArray noise(4096, Qt::Uninitialized);
    QRandomGenerator rng(7);
    rng.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);

    ZipWriter zip;
    QString error;
    ASSERT_TRUE(zip.add(QStringLiteral("events.csv"), text, When, &error)) << error;
    ASSERT_TRUE(zip.add(QStringLiteral("comtrade/Umspannwerk Süd.dat"), noise, When, &error)) << error;
    ASSERT_TRUE(zip.add(QStringLiteral("empty.txt"), {}, QDateTime(), &error)) << error;
    EXPECT_EQ(zip.members(), 3);

    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QString why;
    const auto contents = test::ExtractZip(zip.finish(), tmp, &why);
    ASSERT_TRUE(contents) << why;
    EXPECT_EQ(contents->bad, QString());
    ASSERT_EQ(
        contents->names(), (QStringList{"events.csv", QStringLiteral("comtrade/Umspannwerk Süd.dat"), "empty.txt"}));
    // Text shrinks, so it is deflated; noise would grow, so it is stored.
    EXPECT_EQ(contents->members[0].method, 8);
    EXPECT_EQ(contents->members[1].method, 0);
    EXPECT_EQ(contents->read(QStringLiteral("events.csv")), text);
    EXPECT_EQ(contents->read(QStringLiteral("comtrade/Umspannwerk Süd.dat")), noise);
    EXPECT_EQ(contents->members[2].size, 0);
}

TEST(ZipWriter, NamesThatLeaveTheFolderAreRefusedAndLeaveTheArchiveAsItWas)
{
    ZipWriter zip;
    QString error;
    ASSERT_TRUE(zip.add(QStringLiteral("summary.html"), "<p>", When, &error)) << error;
    const QByteArray before = zip.finish();
    for (const QString& name :
        {QStringLiteral("../evil"), QStringLiteral("/etc/passwd"), QStringLiteral("a/../../b"), QStringLiteral("a//b"),
            QStringLiteral("a\\..\\b"), QStringLiteral("dir/"), QString(), QStringLiteral("line\nbreak")}) {
        error.clear();
        EXPECT_FALSE(zip.add(name, "x", When, &error)) << name;
        EXPECT_FALSE(error.isEmpty()) << name;
    }
    EXPECT_EQ(zip.finish(), before);
    EXPECT_EQ(zip.members(), 1);
}

TEST(ZipWriter, Crc32CheckValue)
{
    // The CRC-32 check value of the catalogue of parametrised CRCs (reveng).
    EXPECT_EQ(ZipWriter::crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(ZipWriter::crc32({}), 0u);
}

} // namespace
} // namespace chronel
