// A plain AVI file of one video stream and, optionally, one PCM sound stream, written as
// the samples come through a stream: chunks in a 'movi' list, the headers and the 'idx1' index at
// Close.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <string>
#include <vector>

#include <objidl.h>
#include <wrl/client.h>

namespace doubles {

class AviFile {
public:
    // Writes through `out` (from its start) until Close.
    bool Open(IStream* out, const VIDEOINFOHEADER* video, const WAVEFORMATEX* audio);
    bool IsOpen() const { return static_cast<bool>(out_); }
    // Appends one video frame, resp. a buffer of sound; `start` is the sample's stream
    // time where it has one (null otherwise). The sound is lined up with the first frame:
    // sound from before it is left out, a late start is filled with silence.
    void WriteVideo(const BYTE* data, DWORD size, const REFERENCE_TIME* start);
    void WriteAudio(const BYTE* data, DWORD size, const REFERENCE_TIME* start);
    // Writes the index and the headers and closes the file.
    void Close();

    uint32_t VideoFrames() const { return videoFrames_; }

private:
    void WriteChunk(DWORD fourcc, const BYTE* data, DWORD size, DWORD flags);
    void Put(const void* data, DWORD size);

    Microsoft::WRL::ComPtr<IStream> out_;
    bool hasVideo_ = false, hasAudio_ = false;
    VIDEOINFOHEADER video_{};
    WAVEFORMATEX audio_{};
    uint32_t videoFrames_ = 0;
    bool videoStarted_ = false, audioStarted_ = false;
    REFERENCE_TIME videoStart_ = 0;
    uint64_t audioBytes_ = 0;
    DWORD maxVideoChunk_ = 0, maxAudioChunk_ = 0;
    DWORD position_ = 0;
    struct IndexEntry {
        DWORD id, flags, offset, size;
    };
    std::vector<IndexEntry> index_;
};

}  // namespace doubles
