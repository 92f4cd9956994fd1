#include "platform/failure_text.h"
#include "platform/socket_errors.h"

#include <gtest/gtest.h>

namespace {

TEST(FailureText, WordsForEachKindOfCodeAndTheWindowsOwnWording)
{
    EXPECT_EQ(platform::failureWords(10061), QStringLiteral("connection refused"));
    EXPECT_EQ(platform::failureWords(10060), QStringLiteral("timed out"));
    EXPECT_EQ(platform::failureWords(2), QStringLiteral("illegal data address"));
    EXPECT_EQ(platform::failureWords(4), QStringLiteral("device failure"));
    EXPECT_EQ(platform::failureWords(-3), QStringLiteral("device did not respond"));
    EXPECT_EQ(platform::failureWords(4711), QStringLiteral("error 4711"));

    EXPECT_EQ(platform::windowFailureText(6), QStringLiteral("Slave Device is busy"));
    EXPECT_EQ(platform::windowFailureText(-1), QStringLiteral("Adaptor Invalid"));
    // The window shows these by number.
    EXPECT_TRUE(platform::windowFailureText(4).isEmpty());
    EXPECT_TRUE(platform::windowFailureText(-5).isEmpty());
    EXPECT_TRUE(platform::windowFailureText(10061).isEmpty());
}

TEST(FailureText, EverySocketNumberTheSystemReportsHasWords)
{
    for (int err = 1; err < 200; ++err) {
        const int code = platform::socketErrorFromErrno(err);
        if (code == 10000 + err)
            continue;  // not mapped: reported by number
        EXPECT_FALSE(platform::failureWords(code).startsWith(QStringLiteral("error "))) << "errno " << err;
    }
}

} // namespace
