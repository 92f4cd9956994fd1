// The control binds the driver by these exact unmangled names.
#include <dlfcn.h>

#include <array>
#include <cstdint>

#include <gtest/gtest.h>

namespace {

TEST(PlaceholderDriver, ExportsWithCLinkageAndRefusesEveryPacket)
{
    void* lib = dlopen(PLCDRV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using StartFn = void (*)();
    using PutFn = int (*)(void*, int);
    using GetFn = int (*)(void*, void*, int);
    auto start = reinterpret_cast<StartFn>(dlsym(lib, "VexaStart"));
    auto stop = reinterpret_cast<StartFn>(dlsym(lib, "VexaStop"));
    auto put = reinterpret_cast<PutFn>(dlsym(lib, "VexaPut"));
    auto get = reinterpret_cast<GetFn>(dlsym(lib, "VexaGet"));
    ASSERT_NE(start, nullptr);
    ASSERT_NE(stop, nullptr);
    ASSERT_NE(put, nullptr);
    ASSERT_NE(get, nullptr);

    std::array<std::uint8_t, 280> packet{};
    packet[4] = 1; // adapter 1
    start();
    EXPECT_EQ(put(packet.data(), 280), 0);
    std::array<std::uint8_t, 280> copy{};
    EXPECT_EQ(get(copy.data(), packet.data(), 280), 0);
    stop();
    dlclose(lib);
}

} // namespace
