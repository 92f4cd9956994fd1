// Firmware files made by independent tools: binary images converted to Intel
// HEX by srec_cat (package srecord) and by GNU objcopy, with extended segment
// addressing and with extended linear addressing, loaded and compared with
// the binary byte for byte.
#include "core/flash/flash_loader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <vector>

namespace chronel {
namespace {

struct Piece {
    quint32 position;
    quint32 size;
};

enum class Tool { SrecCatSegment, SrecCatLinear, Objcopy };

struct ToolCase {
    const char* name;
    Tool tool;
    int recordBytes; // srec_cat's -obs; objcopy writes 16
    std::vector<Piece> pieces;
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

class ToolMadeFile : public testing::TestWithParam<ToolCase> {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString writePiece(int index, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(QStringLiteral("piece%1.bin").arg(index));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    static void run(const QString& program, const QStringList& args)
    {
        const QString found = QStandardPaths::findExecutable(program);
        ASSERT_FALSE(found.isEmpty()) << program.toStdString() << " missing: run scripts/setup";
        QProcess p;
        p.start(found, args);
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }

    QTemporaryDir dir_;
};

TEST_P(ToolMadeFile, LoadsByteForByte)
{
    const ToolCase& c = GetParam();
    std::vector<quint8> expected(FlashImageSize, ErasedFlashByte);
    QStringList inputs;
    QList<QString> pieceFiles;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
        QByteArray bytes(qsizetype(c.pieces[i].size), Qt::Uninitialized);
        QRandomGenerator random(quint32(1000 + i));
        for (char& b : bytes)
            b = char(random.bounded(256));
        std::copy(bytes.begin(), bytes.end(), expected.begin() + c.pieces[i].position);
        pieceFiles << writePiece(int(i), bytes);
    }

    const QString hex = dir_.filePath(QStringLiteral("fw.hex"));
    if (c.tool == Tool::Objcopy) {
        ASSERT_EQ(c.pieces.size(), 1u);
        run(QStringLiteral("objcopy"),
            {QStringLiteral("-I"), QStringLiteral("binary"), QStringLiteral("-O"), QStringLiteral("ihex"),
                QStringLiteral("--change-addresses"), QString::number(c.pieces[0].position), pieceFiles[0], hex});
    } else {
        QStringList args;
        for (std::size_t i = 0; i < c.pieces.size(); ++i)
            args << pieceFiles[qsizetype(i)] << QStringLiteral("-binary") << QStringLiteral("-offset")
                 << QString::number(c.pieces[i].position);
        args << QStringLiteral("-o") << hex << QStringLiteral("-intel")
             << (c.tool == Tool::SrecCatSegment ? QStringLiteral("-address-length=3")
                                                : QStringLiteral("-address-length=4"))
             << QStringLiteral("-obs=%1").arg(c.recordBytes);
        run(QStringLiteral("srec_cat"), args);
    }

    QFile text(hex);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QByteArray all = text.readAll();
    text.seek(0);
    const bool segmented = all.contains(":02000002");
    const bool linear = all.contains(":02000004");
    if (c.tool == Tool::SrecCatLinear)
        EXPECT_TRUE(linear && !segmented) << "the file should use linear addresses";
    else
        EXPECT_TRUE(segmented && !linear) << "the file should use segment addresses";

    FlashImage image;
    FlashStatus status;
    const FlashLoadResult result = LoadHexFile(text, hex, image, status);
    ASSERT_TRUE(result.ok) << status.text().toStdString();
    quint32 total = 0;
    for (const Piece& p : c.pieces)
        total += p.size;
    EXPECT_EQ(result.bytesLoaded, total);

    std::size_t differing = 0;
    for (std::size_t i = 0; i < FlashImageSize; ++i) {
        if (image.bytes()[i] != expected[i] && differing++ < 5)
            ADD_FAILURE() << "position 0x" << std::hex << i;
    }
    EXPECT_EQ(differing, 0u);
}

const ToolCase ToolCases[] = {
    {"SrecCatSegmentsFullSize", Tool::SrecCatSegment, 32, {{0, 0x7A000}}},
    {"SrecCatSegmentsWholeImage", Tool::SrecCatSegment, 16, {{0, 0x80001}}},
    {"SrecCatSegmentsScattered", Tool::SrecCatSegment, 255, {{0x1234, 5000}, {0x2FFF0, 0x40}, {0x7FF00, 0x101}}},
    {"SrecCatSegmentsOddRecords", Tool::SrecCatSegment, 7, {{0xFFFD, 0x20}, {0x6FFFF, 3}}},
    {"SrecCatLinear", Tool::SrecCatLinear, 32, {{0x100, 0x30000}, {0x7A000, 0x10}}},
    {"ObjcopySegments", Tool::Objcopy, 16, {{0x8000, 0x60000}}},
    {"ObjcopyAtZero", Tool::Objcopy, 16, {{0, 0x7A000}}},
};

INSTANTIATE_TEST_SUITE_P(Files, ToolMadeFile, testing::ValuesIn(ToolCases),
    [](const testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace chronel
