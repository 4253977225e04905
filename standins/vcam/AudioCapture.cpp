// The stand-in microphone: one capture pin offering PCM at 44100, 22050, 11025 and
// 8000 Hz, mono or stereo, 16 or 8 bits, delivering a continuous sine tone in buffers of
// 50 ms, each stamped with the stream time it was recorded over.
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "standins/vcam/CameraSettings.h"
#include "standins/vcam/CaptureFilter.h"
#include "standins/vcam/ComObject.h"
#include "standins/vcam/Filters.h"
#include "standins/vcam/VCamConfig.h"

namespace vcam {

namespace {

constexpr DWORD kRates[] = {44100, 22050, 11025, 8000};
constexpr int kFormatsPerRate = 4;  // mono 16, mono 8, stereo 16, stereo 8

struct PcmFormat {
    DWORD rate;
    WORD channels;
    WORD bits;
};

PcmFormat FormatAt(int index) {
    return {kRates[index / kFormatsPerRate], static_cast<WORD>(1 + (index / 2) % 2),
            static_cast<WORD>(index % 2 ? 8 : 16)};
}

MediaType MakeAudioType(const PcmFormat& format, const GUID& major = MEDIATYPE_Audio) {
    MediaType mt;
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormat(sizeof(WAVEFORMATEX)));
    if (!wfx) {
        return mt;
    }
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = format.channels;
    wfx->nSamplesPerSec = format.rate;
    wfx->wBitsPerSample = format.bits;
    wfx->nBlockAlign = static_cast<WORD>(format.channels * format.bits / 8);
    wfx->nAvgBytesPerSec = format.rate * wfx->nBlockAlign;
    wfx->cbSize = 0;
    mt->majortype = major;
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->bFixedSizeSamples = TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = wfx->nBlockAlign;
    mt->formattype = FORMAT_WaveFormatEx;
    return mt;
}

// 50 ms of sound per buffer.
DWORD FramesPerBuffer(DWORD rate) { return rate / 20; }

class AudioPin final : public CapturePin {
public:
    AudioPin(CaptureFilter& filter, bool analogFirst)
        : CapturePin(filter, kCapturePinName, PIN_CATEGORY_CAPTURE), analogFirst_(analogFirst) {}

protected:
    int CapabilityCount() const override {
        return static_cast<int>(std::size(kRates)) * kFormatsPerRate + (analogFirst_ ? 1 : 0);
    }
    int CapabilitySize() const override { return sizeof(AUDIO_STREAM_CONFIG_CAPS); }

    MediaType Capability(int index, BYTE* caps) const override {
        // The line signal comes first, in the layout of the first PCM format.
        const bool analog = analogFirst_ && index == 0;
        const PcmFormat format = FormatAt(analogFirst_ && index > 0 ? index - 1 : index);
        const GUID& major = analog ? MEDIATYPE_AnalogAudio : MEDIATYPE_Audio;
        if (caps) {
            AUDIO_STREAM_CONFIG_CAPS c{};
            c.guid = major;
            c.MinimumChannels = c.MaximumChannels = format.channels;
            c.ChannelsGranularity = 1;
            c.MinimumBitsPerSample = c.MaximumBitsPerSample = format.bits;
            c.BitsPerSampleGranularity = 8;
            c.MinimumSampleFrequency = c.MaximumSampleFrequency = format.rate;
            c.SampleFrequencyGranularity = 1;
            std::memcpy(caps, &c, sizeof(c));
        }
        return MakeAudioType(format, major);
    }

    // Offered means PCM with one of the rates, 1 or 2 channels, 8 or 16 bits, and a block
    // size and byte rate that agree with them (under the analog major type too, for a line
    // input).
    MediaType Normalize(const AM_MEDIA_TYPE& mt) const override {
        const bool analog = analogFirst_ && mt.majortype == MEDIATYPE_AnalogAudio;
        if ((mt.majortype != MEDIATYPE_Audio && !analog) || mt.subtype != MEDIASUBTYPE_PCM ||
            mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(PCMWAVEFORMAT) ||
            !mt.pbFormat) {
            return MediaType();
        }
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        if (wfx->wFormatTag != WAVE_FORMAT_PCM || (wfx->nChannels != 1 && wfx->nChannels != 2) ||
            (wfx->wBitsPerSample != 8 && wfx->wBitsPerSample != 16)) {
            return MediaType();
        }
        const DWORD block = wfx->nChannels * wfx->wBitsPerSample / 8;
        if (wfx->nBlockAlign != block || wfx->nAvgBytesPerSec != wfx->nSamplesPerSec * block) {
            return MediaType();
        }
        for (DWORD rate : kRates) {
            if (wfx->nSamplesPerSec == rate) {
                return MakeAudioType({rate, wfx->nChannels, wfx->wBitsPerSample}, mt.majortype);
            }
        }
        return MediaType();
    }

    long SampleBytes(const AM_MEDIA_TYPE& mt) const override {
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        return static_cast<long>(FramesPerBuffer(wfx->nSamplesPerSec) * wfx->nBlockAlign);
    }

    long BufferCount() const override { return 4; }

    void BeginStream(const AM_MEDIA_TYPE& mt) override {
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        format_ = {wfx->nSamplesPerSec, wfx->nChannels, wfx->wBitsPerSample};
        frames_ = FramesPerBuffer(format_.rate);
    }

    // Exact sample counts: buffer k starts at sample k * frames_, so times never drift.
    REFERENCE_TIME UnitStart(uint64_t k) const override {
        return static_cast<REFERENCE_TIME>(k * frames_ * 10000000 / format_.rate);
    }
    uint64_t UnitAt(REFERENCE_TIME t) const override {
        if (t <= 0) {
            return 0;
        }
        return static_cast<uint64_t>(t) * format_.rate / (10000000ull * frames_);
    }
    bool DeliverAtUnitEnd() const override { return true; }

    long FillUnit(uint64_t k, BYTE* data, long capacity) override {
        const long bytes = static_cast<long>(frames_ * format_.channels * format_.bits / 8);
        if (capacity < bytes) {
            return 0;
        }
        const double step = 2.0 * 3.14159265358979323846 * kToneHz / format_.rate;
        // The phase restarts each second, which lands on a whole number of tone periods, so
        // the tone stays continuous and the phase stays small.
        uint64_t sample = (k * frames_) % format_.rate;
        BYTE* out = data;
        for (DWORD i = 0; i < frames_; ++i, ++sample) {
            const double value = std::sin(step * static_cast<double>(sample % format_.rate));
            for (WORD c = 0; c < format_.channels; ++c) {
                if (format_.bits == 16) {
                    const auto s = static_cast<int16_t>(std::lround(value * 16000.0));
                    std::memcpy(out, &s, sizeof(s));
                    out += sizeof(s);
                } else {
                    *out++ = static_cast<BYTE>(128 + std::lround(value * 100.0));
                }
            }
        }
        return bytes;
    }

    void EndStream(uint64_t delivered) override {
        WriteSettingsDword(kValueAudioBuffersProduced, static_cast<DWORD>(delivered));
    }

private:
    const bool analogFirst_;
    PcmFormat format_{44100, 1, 16};  // streaming thread only
    DWORD frames_ = FramesPerBuffer(44100);
};

class MicrophoneFilter final : public CaptureFilter {
public:
    MicrophoneFilter() : CaptureFilter(CLSID_OrvixTestMicrophone, false, 0) {
        SetFailures(ReadDriverFailures(kFailMicrophone));
        AddPin(std::make_unique<AudioPin>(*this, ReadCameraSettings().analogSound));
    }

private:
    ~MicrophoneFilter() override = default;
};

}  // namespace

HRESULT CreateMicrophone(REFIID iid, void** out) {
    return CreateObject<MicrophoneFilter>(iid, out);
}

}  // namespace vcam
