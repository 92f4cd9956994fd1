// mpbridge without a usable MBX driver: built once for a missing library and
// once for a library that lacks an entry point (MISSING_ENTRY_POINT).
#include "mpbridge/mpbridge.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cerrno>

namespace {

TEST(MpbridgeUnavailable, ReportsTheLoadError)
{
#ifdef MISSING_ENTRY_POINT
    EXPECT_EQ(MBXDriverAvailable(), ENOSYS);
#else
    EXPECT_NE(MBXDriverAvailable(), 0);
#endif
}

TEST(MpbridgeUnavailable, DoesNotKeepTheDriverLoaded)
{
    // A driver without all its entry points is unloaded again at once.
    EXPECT_EQ(dlopen("libmbxapi.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(MpbridgeUnavailable, EveryOperationFails)
{
    unsigned char frame[512] = {0x03, 0x00, 0x00, 0x00, 0x01};
    const unsigned short routing[5] = {1, 0, 0, 0, 0};
    for (int device : {-1, 0, 1, 3}) {
        EXPECT_EQ(MBXInitCard(device), 0) << device;
        EXPECT_EQ(MBXSendPacket(device, routing, frame, 5, 100), -1) << device;
        EXPECT_EQ(MBXStopCard(device), 0) << device;
    }
    EXPECT_EQ(frame[0], 0x03); // the frame is left alone
}

TEST(MpbridgeUnavailable, SelectDeviceLeavesOutputsAlone)
{
    int device = 42;
    char name[4] = {' ', ' ', ' ', ' '};
    MBXSelectDevice(&device, name);
    EXPECT_EQ(device, 42);
    EXPECT_EQ(std::string(name, 4), "    ");
}

} // namespace
