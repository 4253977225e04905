// The named settings dialogs and property pages of the opened capture devices, in the
// order the capture control found them; running an entry shows that dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

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
    struct TEntry {
        std::string Name;
        int Kind = 0;
    };

    // Shows the dialog or pages of one kind; its result is what Execute returns.
    using TShowOption = std::function<HRESULT(int Kind)>;

    explicit TDeviceOptions(TShowOption Show) : show_(std::move(Show)) {}

    void Clear() { count_ = 0; }
    void Add(int Kind, const std::string& Name);
    // Shows the first entry named exactly Name; E_FAIL without a way to show entries or
    // without such an entry.
    HRESULT Execute(const std::string& Name);
    std::string NameOf(int Index) const;
    bool IsKind(int Index, int Kind) const;
    int Count() const { return count_; }

private:
    TShowOption show_;
    std::vector<TEntry> items_;  // entries past count_ are kept for reuse
    int count_ = 0;
};
