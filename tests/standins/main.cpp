// The tests build DirectShow graphs on the main thread, as the program does on its window
// thread: one single-threaded apartment for the whole run.
#include <gtest/gtest.h>

#include "framework/WinHandles.h"

int main(int argc, char** argv) {
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
