// The capture control's still pictures: arming the video callback object for one frame and
// saving that frame as a numbered picture file on the streaming thread.
#include "capture/GDirectCapPin2.h"
#include "common/u_Log.h"

#include "capture/StillPicture.h"

void TGDirectCapPin2::SnapShot() {
    // Nothing delivers frames: the request would never be carried out.
    if (!videoCB_->Enabled()) return;
    if (ImageFileName.empty()) ImageFileName = L"capture.bmp";
    {
        std::lock_guard<fw::SlimMutex> guard(snapshotLock_);
        snapshotRequest_ = std::make_unique<TSnapshotRequest>(
            TSnapshotRequest{ImageFileName, requested_.FrameWidth, requested_.FrameHeight});
    }
    videoCB_->SetOnNextBuffer([this](uint32_t Frame, BYTE*& Buffer, int32_t& Size) {
        SaveSnapshotFrame(Frame, Buffer, Size);
    });
}

TGDirectCapPin2::TSnapshotRequest TGDirectCapPin2::TakeSnapshotRequest() {
    {
        std::lock_guard<fw::SlimMutex> guard(snapshotLock_);
        if (snapshotRequest_) {
            TSnapshotRequest taken = std::move(*snapshotRequest_);
            snapshotRequest_.reset();
            return taken;
        }
    }
    // Called without SnapShot: the control's own fields, on the caller's thread.
    return TSnapshotRequest{ImageFileName.empty() ? std::wstring(L"capture.bmp") : ImageFileName,
                            requested_.FrameWidth, requested_.FrameHeight};
}

void TGDirectCapPin2::NoteStreamFrameSize() {
    int width = requested_.FrameWidth, height = requested_.FrameHeight;
    AM_MEDIA_TYPE mt{};
    if (graph_.Chain.PreviewGrabber &&
        SUCCEEDED(graph_.Chain.PreviewGrabber->GetConnectedMediaType(&mt))) {
        if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat &&
            mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
            const auto& bih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
            width = bih.biWidth;
            height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
            // A camera that cannot be told a size (no IAMStreamConfig) streams at its own,
            // as one that refuses the size does: the sizes reported are its frames'.
            if (!devices_.VideoConfig) {
                requested_.FrameWidth = width;
                requested_.FrameHeight = height;
            }
        }
        FreeMediaType(mt);
    }
    streamFrameSize_ = static_cast<uint64_t>(static_cast<uint32_t>(width)) |
                       static_cast<uint64_t>(static_cast<uint32_t>(height)) << 32;
}

void TGDirectCapPin2::SaveSnapshotFrame(uint32_t, BYTE*& Buffer, int32_t& Size) {
    if (snapshotBusy_.exchange(true)) return;
    // The stream waits for this call: nothing may escape into the grabber, and the flag
    // ends cleared whatever happens. The per-frame handler was never replaced (the frame
    // came through the callback object's one-frame slot), so it is in place already.
    try {
        TSnapshotRequest request = TakeSnapshotRequest();
        // The frame has the size of the stream that delivers it, whatever it was when the
        // picture was asked for.
        if (const uint64_t stream = streamFrameSize_.load(); stream != 0) {
            request.Width = static_cast<int>(static_cast<uint32_t>(stream));
            request.Height = static_cast<int>(static_cast<uint32_t>(stream >> 32));
        }
        const TSavedPicture saved =
            SaveFramePicture(request.Template, Buffer, request.Width, request.Height, Size);
        if (saved.JpegQuality) jpegQuality_ = saved.JpegQuality;
        // A file that is not there is not reported as saved.
        if (!saved.FileName.empty())
            Raise(OnSnapShot, saved.FileName);
        else
            Raise(OnSnapShotFailed, saved.Error);
    } catch (...) {
        // Out of memory on the streaming thread: the frame goes on; the log is written by
        // its own thread, so the stream does not wait for the disk.
        Log("picture", "the picture could not be saved: out of memory");
    }
    snapshotBusy_ = false;
}
