// The camera's moving test picture. Each sensor has its own look so that a saved frame
// tells which one was live: the forward sensor a blue checkerboard, the backward sensor
// orange horizontal stripes. Over either, a light vertical bar moves to the right by a
// step per frame, and a band along the top shows the frame number in binary (16 blocks,
// most significant on the left, white for 1).
//
// Frames come in the camera's layouts: RGB24 as a bottom-up DIB, YUY2, UYVY and I420
// top-down in BT.601 studio range as capture devices deliver them, and MJPG as one
// baseline JPEG picture per frame.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "standins/vcam/VideoFormats.h"

namespace vcam {

class TestPicture {
public:
    TestPicture();
    ~TestPicture();
    TestPicture(const TestPicture&) = delete;
    TestPicture& operator=(const TestPicture&) = delete;

    void Configure(int width, int height, Layout layout);
    // Writes frame `frame` into `out` and returns its length; 0 when it does not fit.
    long Render(uint64_t frame, bool backwardSensor, BYTE* out, long capacity);

private:
    struct Rgb {
        BYTE r, g, b;
    };
    // The picture has three kinds of row: the two of the pattern and the frame band.
    enum { kRowA, kRowB, kBand, kKinds };
    void BuildRow(std::vector<Rgb>& row, const Rgb& even, const Rgb& odd, int barStart,
                  bool oddRowPhase) const;
    void BuildBand(uint64_t frame);
    void Pack(int kind);
    int KindOf(int y) const;  // y counted from the top
    long EncodeJpeg(BYTE* out, long capacity);

    int width_ = 0;
    int height_ = 0;
    Layout layout_ = Layout::Rgb24;
    int cell_ = 8;
    int bandRows_ = 4;
    int barWidth_ = 4;
    int barStep_ = 2;
    std::vector<Rgb> rows_[kKinds];
    // Per kind of row: the row as it is stored (BGR for RGB24 and for the JPEG encoder,
    // packed 4:2:2 for YUY2 and UYVY, the luma row for I420) and, for I420, its two
    // chroma rows.
    std::vector<BYTE> packed_[kKinds];
    std::vector<BYTE> cb_[kKinds];
    std::vector<BYTE> cr_[kKinds];
    struct Jpeg;
    std::unique_ptr<Jpeg> jpeg_;
};

}  // namespace vcam
