#include "tests/doubles/AviFile.h"

#include <algorithm>

namespace doubles {

namespace {

constexpr DWORD Fcc(const char (&s)[5]) {
    return static_cast<DWORD>(static_cast<unsigned char>(s[0])) |
           (static_cast<DWORD>(static_cast<unsigned char>(s[1])) << 8) |
           (static_cast<DWORD>(static_cast<unsigned char>(s[2])) << 16) |
           (static_cast<DWORD>(static_cast<unsigned char>(s[3])) << 24);
}

// The headers are written last, into room kept at the start; 'movi' follows it.
constexpr DWORD kHeaderRoom = 2048;
constexpr DWORD kKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr DWORD kHasIndex = 0x10;  // AVIF_HASINDEX

#pragma pack(push, 1)
struct MainHeader {
    DWORD microSecPerFrame, maxBytesPerSec, paddingGranularity, flags, totalFrames, initialFrames,
        streams, suggestedBufferSize, width, height, reserved[4];
};
struct StreamHeader {
    DWORD type, handler, flags;
    WORD priority, language;
    DWORD initialFrames, scale, rate, start, length, suggestedBufferSize, quality, sampleSize;
    short left, top, right, bottom;
};
#pragma pack(pop)

class Bytes {
public:
    void Put(const void* p, size_t n) {
        const auto* b = static_cast<const BYTE*>(p);
        data.insert(data.end(), b, b + n);
    }
    void Dword(DWORD v) { Put(&v, 4); }
    // Starts a chunk or list; returns where its size goes.
    size_t Open(DWORD fcc) {
        Dword(fcc);
        const size_t at = data.size();
        Dword(0);
        return at;
    }
    void CloseAt(size_t at) {
        const DWORD size = static_cast<DWORD>(data.size() - at - 4);
        memcpy(&data[at], &size, 4);
    }
    std::vector<BYTE> data;
};

}  // namespace

bool AviFile::Open(IStream* out, const VIDEOINFOHEADER* video, const WAVEFORMATEX* audio) {
    Close();
    if (!out) return false;
    LARGE_INTEGER zero{};
    if (FAILED(out->Seek(zero, STREAM_SEEK_SET, nullptr))) return false;
    out_ = out;
    hasVideo_ = video != nullptr;
    hasAudio_ = audio != nullptr;
    if (video) video_ = *video;
    if (audio) audio_ = *audio;
    videoFrames_ = 0;
    audioBytes_ = 0;
    videoStarted_ = audioStarted_ = false;
    videoStart_ = 0;
    maxVideoChunk_ = maxAudioChunk_ = 0;
    index_.clear();
    const std::vector<BYTE> room(kHeaderRoom + 12, 0);
    position_ = 0;
    Put(room.data(), static_cast<DWORD>(room.size()));
    return true;
}

void AviFile::Put(const void* data, DWORD size) {
    ULONG written = 0;
    out_->Write(data, size, &written);
    position_ += written;
}

void AviFile::WriteChunk(DWORD fourcc, const BYTE* data, DWORD size, DWORD flags) {
    if (!out_) return;
    // Offsets count from the 'movi' tag.
    index_.push_back({fourcc, flags, position_ - (kHeaderRoom + 8), size});
    Put(&fourcc, 4);
    Put(&size, 4);
    Put(data, size);
    if (size & 1) {
        const BYTE pad = 0;
        Put(&pad, 1);
    }
}

void AviFile::WriteVideo(const BYTE* data, DWORD size, const REFERENCE_TIME* start) {
    if (!hasVideo_) return;
    if (!videoStarted_) {
        videoStarted_ = true;
        videoStart_ = start ? *start : 0;
    }
    WriteChunk(Fcc("00dc"), data, size, kKeyFrame);
    ++videoFrames_;
    maxVideoChunk_ = std::max(maxVideoChunk_, size);
}

void AviFile::WriteAudio(const BYTE* data, DWORD size, const REFERENCE_TIME* start) {
    if (!hasAudio_ || (hasVideo_ && !videoStarted_)) return;
    if (!audioStarted_ && hasVideo_ && start) {
        const DWORD block = audio_.nBlockAlign ? audio_.nBlockAlign : 1;
        const long long offset =
            (*start - videoStart_) * static_cast<long long>(audio_.nAvgBytesPerSec) / 10000000;
        const long long bytes = offset / block * block;
        if (bytes < 0) {
            if (static_cast<unsigned long long>(-bytes) >= size) return;
            data += -bytes;
            size -= static_cast<DWORD>(-bytes);
        } else if (bytes > 0) {
            const std::vector<BYTE> silence(static_cast<size_t>(bytes),
                                            audio_.wBitsPerSample == 8 ? 128 : 0);
            WriteAudio(silence.data(), static_cast<DWORD>(silence.size()), nullptr);
        }
    }
    audioStarted_ = true;
    WriteChunk(Fcc(hasVideo_ ? "01wb" : "00wb"), data, size, kKeyFrame);
    audioBytes_ += size;
    maxAudioChunk_ = std::max(maxAudioChunk_, size);
}

void AviFile::Close() {
    if (!out_) return;
    const DWORD moviEnd = position_;
    // The index.
    Bytes idx;
    const size_t idxAt = idx.Open(Fcc("idx1"));
    for (const IndexEntry& e : index_) idx.Put(&e, sizeof(e));
    idx.CloseAt(idxAt);
    Put(idx.data.data(), static_cast<DWORD>(idx.data.size()));
    const DWORD fileEnd = position_;

    const REFERENCE_TIME frameTime = video_.AvgTimePerFrame > 0 ? video_.AvgTimePerFrame : 666667;
    Bytes h;
    h.Dword(Fcc("RIFF"));
    h.Dword(fileEnd - 8);
    h.Dword(Fcc("AVI "));
    const size_t hdrl = h.Open(Fcc("LIST"));
    h.Dword(Fcc("hdrl"));
    MainHeader avih{};
    avih.microSecPerFrame = static_cast<DWORD>(frameTime / 10);
    avih.flags = kHasIndex;
    avih.totalFrames = videoFrames_;
    avih.streams = (hasVideo_ ? 1 : 0) + (hasAudio_ ? 1 : 0);
    avih.suggestedBufferSize = std::max(maxVideoChunk_, maxAudioChunk_) + 8;
    avih.width = static_cast<DWORD>(video_.bmiHeader.biWidth);
    avih.height = static_cast<DWORD>(std::abs(video_.bmiHeader.biHeight));
    const size_t avihAt = h.Open(Fcc("avih"));
    h.Put(&avih, sizeof(avih));
    h.CloseAt(avihAt);
    if (hasVideo_) {
        const size_t strl = h.Open(Fcc("LIST"));
        h.Dword(Fcc("strl"));
        StreamHeader s{};
        s.type = Fcc("vids");
        s.handler = video_.bmiHeader.biCompression;
        s.scale = static_cast<DWORD>(frameTime);
        s.rate = 10000000;
        s.length = videoFrames_;
        s.suggestedBufferSize = maxVideoChunk_;
        s.quality = 0xFFFFFFFF;
        s.right = static_cast<short>(avih.width);
        s.bottom = static_cast<short>(avih.height);
        const size_t strh = h.Open(Fcc("strh"));
        h.Put(&s, sizeof(s));
        h.CloseAt(strh);
        const size_t strf = h.Open(Fcc("strf"));
        h.Put(&video_.bmiHeader, sizeof(video_.bmiHeader));
        h.CloseAt(strf);
        h.CloseAt(strl);
    }
    if (hasAudio_) {
        const size_t strl = h.Open(Fcc("LIST"));
        h.Dword(Fcc("strl"));
        StreamHeader s{};
        s.type = Fcc("auds");
        s.scale = audio_.nBlockAlign ? audio_.nBlockAlign : 1;
        s.rate = audio_.nAvgBytesPerSec;
        s.length = static_cast<DWORD>(audioBytes_ / s.scale);
        s.suggestedBufferSize = maxAudioChunk_;
        s.quality = 0xFFFFFFFF;
        s.sampleSize = audio_.nBlockAlign;
        const size_t strh = h.Open(Fcc("strh"));
        h.Put(&s, sizeof(s));
        h.CloseAt(strh);
        WAVEFORMATEX wf = audio_;
        wf.cbSize = 0;
        const size_t strf = h.Open(Fcc("strf"));
        h.Put(&wf, sizeof(wf));
        h.CloseAt(strf);
        h.CloseAt(strl);
    }
    h.CloseAt(hdrl);
    // Fill the rest of the room so that 'movi' starts where the chunks were written.
    const size_t junk = h.Open(Fcc("JUNK"));
    h.data.resize(kHeaderRoom, 0);
    h.CloseAt(junk);
    h.Dword(Fcc("LIST"));
    h.Dword(moviEnd - (kHeaderRoom + 8));
    h.Dword(Fcc("movi"));

    ULARGE_INTEGER end{};
    end.QuadPart = fileEnd;
    out_->SetSize(end);  // whatever the file held beyond the recording goes
    LARGE_INTEGER zero{};
    out_->Seek(zero, STREAM_SEEK_SET, nullptr);
    out_->Write(h.data.data(), static_cast<ULONG>(h.data.size()), nullptr);
    out_->Commit(STGC_DEFAULT);
    out_.Reset();
}

}  // namespace doubles
