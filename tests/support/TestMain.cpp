#include "platform/Synchronize.h"

#include <gtest/gtest.h>

// The main thread is the UI thread of the tests; they run the calls handed to it
// themselves while they wait (PumpUntil), as a program without a window does.
int main(int argc, char** argv)
{
    kestrin::InitSynchronize();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
