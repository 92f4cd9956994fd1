// The modal-window player itself: a window it was not told about must fail
// the test rather than pass by being closed.
#include "modal_script.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QMessageBox>

#include <string>

namespace {

TEST(ModalScriptTest, UnexpectedMessageBoxFailsTheTestNamingIt)
{
    testing::TestPartResultArray failures;
    {
        const testing::ScopedFakeTestPartResultReporter intercept(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        ModalScript script;
        QMessageBox::warning(nullptr, QStringLiteral("Surprise"), QStringLiteral("Nobody asked for this"));
    }
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.GetTestPartResult(0).nonfatally_failed());
    const std::string message = failures.GetTestPartResult(0).message();
    EXPECT_NE(message.find("unexpected modal window: Surprise: Nobody asked for this"), std::string::npos) << message;
}

} // namespace
