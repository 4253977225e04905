// The capture control lives on a window thread in a single-threaded apartment.
#include <gtest/gtest.h>

#include "framework/WinHandles.h"

int main(int argc, char** argv) {
    fw::ComInit com(COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
