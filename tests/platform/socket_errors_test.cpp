#include "platform/socket_errors.h"

#include <cerrno>

#include <ostream>

#include <gtest/gtest.h>

namespace {

struct Case {
    int err;
    int expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << "errno " << c.err << " -> " << c.expected; }

class SocketErrorTable : public ::testing::TestWithParam<Case> { };

TEST_P(SocketErrorTable, MapsErrnoToWindowsSocketNumber)
{
    EXPECT_EQ(platform::socketErrorFromErrno(GetParam().err), GetParam().expected) << "errno " << GetParam().err;
}

// The numbers the control's events and the configurator's messages show.
INSTANTIATE_TEST_SUITE_P(Numbers, SocketErrorTable,
    ::testing::Values(Case{EINVAL, 10022}, Case{EWOULDBLOCK, 10035}, Case{EAGAIN, 10035}, Case{EINPROGRESS, 10036},
        Case{EALREADY, 10037}, Case{ENOTSOCK, 10038}, Case{EADDRINUSE, 10048}, Case{ENETUNREACH, 10051},
        Case{ECONNABORTED, 10053}, Case{ECONNRESET, 10054}, Case{EPIPE, 10054}, Case{ENOTCONN, 10057},
        Case{ETIMEDOUT, 10060}, Case{ECONNREFUSED, 10061}, Case{EHOSTUNREACH, 10065}, Case{EBADF, 10009},
        Case{EINTR, 10004}, Case{EMFILE, 10024}, Case{ENOBUFS, 10055}));

TEST(SocketErrors, UnmappedErrnoStaysInSocketRange)
{
    EXPECT_EQ(platform::socketErrorFromErrno(ENOENT), 10000 + ENOENT);
    EXPECT_EQ(platform::socketErrorFromErrno(0), 10000);
}

} // namespace
