// A JPEG file read back with libjpeg-turbo's decoder: what a picture viewer would see.
#pragma once

#include <cstdint>
#include <vector>

namespace captest {

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // R, G, B top-down
    bool ok = false;
};

// The picture in a file's bytes; not ok when they are no complete JPEG picture.
Decoded Decode(const std::vector<uint8_t>& file);

}  // namespace captest
