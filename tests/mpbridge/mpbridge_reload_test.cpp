// A process may load and unload mpbridge (with PLCDRV) many times; each
// unload must give back what the load took. The leak checker of the
// AddressSanitizer build (scripts/test --sanitize) judges that; the plain
// build still checks that every cycle really loads and unloads the library.
#include <QApplication>

#include <dlfcn.h>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define CHRONEL_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define CHRONEL_LEAK_CHECK 1
#endif
#endif

namespace {

using AvailableFn = int (*)();

void LoadUseAndUnload()
{
    void* handle = ::dlopen(MPBRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto available = reinterpret_cast<AvailableFn>(::dlsym(handle, "MBXDriverAvailable"));
    ASSERT_NE(available, nullptr);
    EXPECT_NE(available(), 0); // no MBX driver on the library path
    ASSERT_EQ(::dlclose(handle), 0);
    // Nothing else holds the library, so it really went.
    EXPECT_EQ(::dlopen(MPBRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(MpbridgeReload, EachUnloadGivesBackWhatTheLoadTook)
{
    // Qt stays loaded with the test program, so only the bridge comes and goes.
    ASSERT_NE(&QApplication::style, nullptr);
    for (int i = 0; i < 20; ++i)
        LoadUseAndUnload();
#ifdef CHRONEL_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory of unloaded bridges is left behind";
#endif
}

} // namespace
