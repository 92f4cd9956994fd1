// Test entry for the control's tests: a Qt application object for the
// control's window and timers, and the test adapter file.
#include "test_support.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    regaccess::test::installAdapterFile();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
