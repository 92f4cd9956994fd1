#include "platform/message_box.h"

#include <ostream>

#include <gtest/gtest.h>

namespace {

struct Case {
    platform::MessageButtons buttons;
    platform::MessageAnswer expected;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << "buttons " << static_cast<int>(c.buttons) << " answer " << static_cast<int>(c.expected);
}

class HeadlessMessageBox : public ::testing::TestWithParam<Case> { };

// Under a QCoreApplication there is nobody to click: the call must not block,
// must leave the text where an operator can see it, and must give the answer
// Enter would have given.
TEST_P(HeadlessMessageBox, PrintsAndAnswersWithFirstButton)
{
    ::testing::internal::CaptureStderr();
    const platform::MessageAnswer answer =
        platform::MessageBox(QStringLiteral("PLCDRV"), QStringLiteral("COM:25 Port Assigned to Adapter 1 Invalid!"),
            platform::MessageIcon::Warning, GetParam().buttons);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, GetParam().expected);
    EXPECT_EQ(err, "PLCDRV: COM:25 Port Assigned to Adapter 1 Invalid!\n");
}

INSTANTIATE_TEST_SUITE_P(Buttons, HeadlessMessageBox,
    ::testing::Values(Case{platform::MessageButtons::Ok, platform::MessageAnswer::Ok},
        Case{platform::MessageButtons::OkCancel, platform::MessageAnswer::Ok},
        Case{platform::MessageButtons::YesNo, platform::MessageAnswer::Yes},
        Case{platform::MessageButtons::YesNoCancel, platform::MessageAnswer::Yes}));

// A program that draws on the terminal takes the texts itself; stderr then
// gets nothing from the box, and clearing the fallback restores stderr.
TEST(HeadlessMessageBoxFallback, GoesToTheProgramsWriterUntilCleared)
{
    static QString seen;
    seen.clear();
    platform::SetMessageFallback([](const QString& title, const QString& text) { seen = title + "|" + text; });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(platform::MessageBox(QStringLiteral("PLCDRV"), QStringLiteral("Error Opening COM1"),
                  platform::MessageIcon::Critical, platform::MessageButtons::YesNo),
        platform::MessageAnswer::Yes);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(seen, "PLCDRV|Error Opening COM1");
    platform::SetMessageFallback(nullptr);
    ::testing::internal::CaptureStderr();
    platform::MessageBox(QStringLiteral("T"), QStringLiteral("x"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "T: x\n");
}

} // namespace
