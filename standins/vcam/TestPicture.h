// The camera's moving test picture. Each sensor has its own look so that a saved frame
// tells which one was live: the forward sensor a blue checkerboard, the backward sensor
// orange horizontal stripes. Over either, a light vertical bar moves to the right by a
// step per frame, and a band along the top shows the frame number in binary (16 blocks,
// most significant on the left, white for 1).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace vcam {

class TestPicture {
public:
    // `yuy2`: YUY2 rows top-down (width even); otherwise RGB24 bottom-up DIB rows.
    void Configure(int width, int height, bool yuy2);
    long FrameBytes() const;
    void Render(uint64_t frame, bool backwardSensor, BYTE* out);

private:
    struct Rgb {
        BYTE r, g, b;
    };
    void BuildRow(std::vector<Rgb>& row, const Rgb& even, const Rgb& odd, int barStart,
                  bool oddRowPhase) const;
    void BuildBand(uint64_t frame);
    void EmitRow(const std::vector<Rgb>& row, BYTE* out) const;
    BYTE* RowAt(BYTE* out, int y) const;  // y counted from the top

    int width_ = 0;
    int height_ = 0;
    bool yuy2_ = false;
    int cell_ = 8;
    int bandRows_ = 4;
    int barWidth_ = 4;
    int barStep_ = 2;
    std::vector<Rgb> rowA_, rowB_, band_;
    std::vector<BYTE> packedA_, packedB_, packedBand_;
};

}  // namespace vcam
