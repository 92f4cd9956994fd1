// The entry of the test programs without widgets. The controls poll with Qt
// timers and the driver delivers completions as posted window messages, so
// the tests run inside an application object.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
