// The control's tests run on the shared test entry; every one of them finds
// the test adapter file, as a host finds its PLCDRV.INI. It is written before
// the first test, once the entry's application object exists.
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

class AdapterFileEnvironment : public ::testing::Environment {
public:
    void SetUp() override { regaccess::test::InstallAdapterFile(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new AdapterFileEnvironment);

} // namespace
