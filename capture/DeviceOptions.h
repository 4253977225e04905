// The named settings dialogs and property pages of the opened capture devices, in the
// order the capture control found them; running an entry shows that dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TGDirectCapPin2;

// Option kinds (the names are the entries' texts).
enum : int {
    OptionVideoFormat = 1,         // "Video Format"
    OptionVideoSource = 2,         // "Video Source"
    OptionVideoDisplay = 3,        // "Video Display"
    OptionVideoCaptureFilter = 4,  // "Video Capture Filter"
    OptionTVTuner = 6,             // "TV Tuner"
    OptionAudioCaptureFilter = 7,  // "Audio Capture Filter"
    OptionTVAudio = 9,             // "TV Audio"
    OptionVideoCapturePin = 10,    // "Video Capture Pin"
    OptionVideoPreviewPin = 11,    // "Video Preview Pin"
    OptionAudioCapturePin = 12,    // "Audio Capture Pin"
    OptionVideoCompress = 13,      // "Video Compress"
    OptionAudioCompress = 14,      // "Audio Compress"
};

class TDeviceOptions {
public:
    struct Entry {
        std::string Name;
        int Kind = 0;
    };

    explicit TDeviceOptions(TGDirectCapPin2* Owner) : owner_(Owner) {}

    void Clear() { count_ = 0; }
    void Add(int Kind, const std::string& Name);
    // Shows the first entry named exactly Name through the owner; E_FAIL without an
    // owner or such an entry.
    HRESULT Execute(const std::string& Name);
    std::string NameOf(int Index) const;
    bool IsKind(int Index, int Kind) const;
    int Count() const { return count_; }

private:
    TGDirectCapPin2* owner_;
    std::vector<Entry> items_;  // entries past count_ are kept for reuse
    int count_ = 0;
};
