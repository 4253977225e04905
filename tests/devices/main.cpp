// COM in a single-threaded apartment for the whole run, as on the program's window thread.
#include <gtest/gtest.h>

#include "framework/WinHandles.h"

int main(int argc, char** argv) {
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
