#include "capture/CaptureParts.h"

#include <utility>

void TOpenDevices::Release() {
    Sensor.reset();
    VideoCompression.Reset();
    VideoConfig.Reset();
    CaptureDialogs.Reset();
    CompressDialogs.Reset();
    AudioConfig.Reset();
    Video.Reset();
    Audio.Reset();
    VideoCompressor.Reset();
    AudioCompressor.Reset();
}

void TGraphChain::Release() {
    if (PreviewGrabber) PreviewGrabber->SetCallback(nullptr, 1);
    if (AudioGrabber) AudioGrabber->SetCallback(nullptr, 0);
    if (Events) Events->SetNotifyWindow(0, 0, 0);
    if (VideoWindow) {
        VideoWindow->put_Visible(OAFALSE);
        VideoWindow->put_Owner(0);
    }
    *this = TGraphChain{};
}

std::optional<TReentrancyGuard::TDeferredChoice> TReentrancyGuard::TakeDeferred() {
    if (deferred_.empty()) return std::nullopt;
    TDeferredChoice choice = std::move(deferred_.front());
    deferred_.erase(deferred_.begin());
    return choice;
}

TReentrancyGuard::TOperation::TOperation(TReentrancyGuard& Guard, bool Pumps)
    : guard_(Guard), alive_(Guard.alive_), pumps_(Pumps) {
    if (pumps_) ++guard_.pumping_;
    ++guard_.operations_;
}

TReentrancyGuard::TOperation::~TOperation() {
    if (alive_.expired()) return;
    if (pumps_) --guard_.pumping_;
    if (--guard_.operations_ == 0 && guard_.onIdle_) guard_.onIdle_();
}
