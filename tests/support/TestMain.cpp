#include "platform/Synchronize.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// The main thread is the UI thread of the tests.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    kestrin::InitSynchronize();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
