// The tests' view of what the capture control keeps behind its surface: the open camera
// filter, the graph's filters, the callback objects, the device dialogs, the stored
// formats and the last picture's state.
#pragma once

#include "capture/GDirectCapPin2.h"

#include <vector>

namespace captest {

struct ControlProbe {
    // None when no camera is open.
    static IBaseFilter* VideoCaptureFilter(const TGDirectCapPin2& c) {
        return c.devices_.Video.Get();
    }
    static IMoniker* ChosenAudioCompressor(const TGDirectCapPin2& c) {
        return c.audioCompressorMoniker_.Get();
    }
    // Frame count and the armed picture.
    static TSampleGrabberCB& VideoCallback(TGDirectCapPin2& c) { return *c.videoCB_; }
    static std::vector<Microsoft::WRL::ComPtr<IBaseFilter>> GraphFilters(const TGDirectCapPin2& c) {
        return c.GraphFilters();
    }
    // The named device dialogs of the open devices, in the order they were found.
    static const TDeviceOptions& DeviceOptions(const TGDirectCapPin2& c) { return c.options_; }
    static const VIDEOINFOHEADER& StoredVideoFormat(const TGDirectCapPin2& c) {
        return c.videoFormat_;
    }
    static const WAVEFORMATEX& StoredAudioFormat(const TGDirectCapPin2& c) {
        return c.audioFormat_;
    }
    // The JPEG quality of the last picture written as JPEG (90 until then).
    static int JpegQuality(const TGDirectCapPin2& c) { return c.jpegQuality_.load(); }
    // A picture is being saved on a streaming thread.
    static bool SnapshotBusy(const TGDirectCapPin2& c) { return c.snapshotBusy_.load(); }
};

}  // namespace captest
