#include "platform/error_code.h"
#include "platform/socket_errors.h"

#include <gtest/gtest.h>

namespace {

using platform::ErrorCode;
using platform::ErrorKind;
using platform::errorText;
using platform::ErrorWording;

TEST(FailureText, WordsForEachKindOfCodeAndTheWindowsOwnWording)
{
    EXPECT_EQ(errorText(10061), QStringLiteral("connection refused"));
    EXPECT_EQ(errorText(10060), QStringLiteral("timed out"));
    EXPECT_EQ(errorText(2), QStringLiteral("illegal data address"));
    EXPECT_EQ(errorText(4), QStringLiteral("device failure"));
    EXPECT_EQ(errorText(-3), QStringLiteral("device did not respond, or its reply did not match the request"));
    EXPECT_EQ(errorText(4711), QStringLiteral("error 4711"));

    EXPECT_EQ(errorText(6, ErrorWording::Window), QStringLiteral("Slave Device is busy"));
    EXPECT_EQ(errorText(-1, ErrorWording::Window), QStringLiteral("Adaptor Invalid"));
    // The window shows these by number.
    EXPECT_TRUE(errorText(4, ErrorWording::Window).isEmpty());
    EXPECT_TRUE(errorText(-5, ErrorWording::Window).isEmpty());
    EXPECT_TRUE(errorText(10061, ErrorWording::Window).isEmpty());
}

TEST(FailureText, EverySocketNumberTheSystemReportsHasWords)
{
    for (int err = 1; err < 200; ++err) {
        const int code = platform::socketErrorFromErrno(err);
        if (code == 10000 + err)
            continue; // not mapped: reported by number
        EXPECT_FALSE(errorText(code).startsWith(QStringLiteral("error "))) << "errno " << err;
    }
}

TEST(FailureText, KindFollowsTheRangeOfTheNumber)
{
    EXPECT_EQ(platform::errorKind(ErrorCode::NoError), ErrorKind::None);
    EXPECT_EQ(platform::errorKind(ErrorCode::RequestRefused), ErrorKind::Control);
    EXPECT_EQ(platform::errorKind(ErrorCode::AdapterInvalid), ErrorKind::Control);
    EXPECT_EQ(platform::errorKind(ErrorCode::IllegalFunction), ErrorKind::DeviceException);
    EXPECT_EQ(platform::errorKind(platform::toErrorCode(255)), ErrorKind::DeviceException);
    EXPECT_EQ(platform::errorKind(ErrorCode::UnresolvedHost), ErrorKind::Socket);
    EXPECT_EQ(platform::errorKind(platform::toErrorCode(platform::socketErrorFromErrno(1))), ErrorKind::Socket);
}

} // namespace
