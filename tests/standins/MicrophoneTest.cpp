// The stand-in microphone: its PCM formats and the tone it delivers in real time.
#include <gtest/gtest.h>

#include <cstring>

#include "standins/vcam/VCamConfig.h"
#include "tests/standins/VCamTestSupport.h"

using namespace std::chrono_literals;
using namespace vcamtest;

namespace {

struct AudioTypeHolder {
    AM_MEDIA_TYPE* mt = nullptr;
    ~AudioTypeHolder() {
        if (mt) {
            if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
            if (mt->pUnk) mt->pUnk->Release();
            CoTaskMemFree(mt);
        }
    }
    WAVEFORMATEX& wfx() { return *reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat); }
};

class MicrophoneTest : public ::testing::Test {
protected:
    CameraConfig config_;
};

}  // namespace

TEST_F(MicrophoneTest, OffersEveryRateChannelAndDepthCombination) {
    ComPtr<IBaseFilter> microphone = CreateMicrophone();
    ASSERT_TRUE(microphone);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(microphone.Get());
    ASSERT_TRUE(config);
    int count = 0;
    int size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(size, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)));
    std::vector<std::tuple<DWORD, WORD, WORD>> seen;
    for (int i = 0; i < count; ++i) {
        AudioTypeHolder holder;
        AUDIO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(config->GetStreamCaps(i, &holder.mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        ASSERT_EQ(holder.mt->formattype, FORMAT_WaveFormatEx);
        const WAVEFORMATEX& wfx = holder.wfx();
        EXPECT_EQ(wfx.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(wfx.nBlockAlign, wfx.nChannels * wfx.wBitsPerSample / 8);
        EXPECT_EQ(wfx.nAvgBytesPerSec, wfx.nSamplesPerSec * wfx.nBlockAlign);
        EXPECT_EQ(caps.MaximumSampleFrequency, wfx.nSamplesPerSec);
        seen.emplace_back(wfx.nSamplesPerSec, wfx.nChannels, wfx.wBitsPerSample);
    }
    for (DWORD rate : {8000u, 11025u, 22050u, 44100u}) {
        for (WORD channels : {1, 2}) {
            for (WORD bits : {8, 16}) {
                EXPECT_EQ(
                    std::count(seen.begin(), seen.end(), std::make_tuple(rate, channels, bits)), 1)
                    << rate << " " << channels << " " << bits;
            }
        }
    }
    EXPECT_EQ(seen.size(), 16u);
}

TEST_F(MicrophoneTest, SetFormatRefusesWhatIsNotOffered) {
    ComPtr<IBaseFilter> microphone = CreateMicrophone();
    ASSERT_TRUE(microphone);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(microphone.Get());
    AudioTypeHolder wanted;
    ASSERT_EQ(config->GetFormat(&wanted.mt), S_OK);
    WAVEFORMATEX& wfx = wanted.wfx();

    wfx.nSamplesPerSec = 48000;
    wfx.nBlockAlign = 2;
    wfx.nChannels = 1;
    wfx.wBitsPerSample = 16;
    wfx.nAvgBytesPerSec = 96000;
    EXPECT_EQ(config->SetFormat(wanted.mt), VFW_E_INVALIDMEDIATYPE);

    wfx.nSamplesPerSec = 22050;
    wfx.nAvgBytesPerSec = 22050;  // does not agree with 2-byte blocks
    EXPECT_EQ(config->SetFormat(wanted.mt), VFW_E_INVALIDMEDIATYPE);

    wfx.nChannels = 3;
    wfx.nBlockAlign = 6;
    wfx.nAvgBytesPerSec = 22050 * 6;
    EXPECT_EQ(config->SetFormat(wanted.mt), VFW_E_INVALIDMEDIATYPE);

    wfx.nChannels = 2;
    wfx.wBitsPerSample = 8;
    wfx.nBlockAlign = 2;
    wfx.nAvgBytesPerSec = 44100;
    ASSERT_EQ(config->SetFormat(wanted.mt), S_OK);
    AudioTypeHolder current;
    ASSERT_EQ(config->GetFormat(&current.mt), S_OK);
    EXPECT_EQ(current.wfx().nSamplesPerSec, 22050u);
    EXPECT_EQ(current.wfx().nChannels, 2);
    EXPECT_EQ(current.wfx().wBitsPerSample, 8);
}

TEST_F(MicrophoneTest, DeliversAContinuousToneInTheChosenFormat) {
    ComPtr<IBaseFilter> microphone = CreateMicrophone();
    ASSERT_TRUE(microphone);
    ComPtr<IAMStreamConfig> config = StreamConfigOf(microphone.Get());
    AudioTypeHolder wanted;
    ASSERT_EQ(config->GetFormat(&wanted.mt), S_OK);
    WAVEFORMATEX& wfx = wanted.wfx();
    wfx.nSamplesPerSec = 11025;
    wfx.nChannels = 2;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = 11025 * 4;
    ASSERT_EQ(config->SetFormat(wanted.mt), S_OK);

    CaptureGraph graph;
    ASSERT_EQ(graph.Build(microphone.Get(), MEDIATYPE_Audio, MEDIASUBTYPE_PCM), S_OK);
    const auto runAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    const size_t buffers = 6;
    ASSERT_TRUE(graph.callback->WaitForCount(buffers, 5s));
    const std::vector<BYTE> last = graph.callback->LastData();
    ASSERT_EQ(graph.Stop(), S_OK);

    const auto records = graph.callback->Records();
    const long frames = 11025 / 20;  // 50 ms
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].length, frames * 4);
        ASSERT_TRUE(records[i].hasTime);
        EXPECT_GE(records[i].start, 0);
        if (i > 0 && !records[i].discontinuity) {
            EXPECT_EQ(records[i].start, records[i - 1].stop);  // no gap, no overlap
        }
    }
    const REFERENCE_TIME duration = records[0].stop - records[0].start;
    EXPECT_NEAR(static_cast<double>(duration), frames * 1e7 / 11025, 1.0);
    // Recorded sound is handed on once its time has passed: no buffer arrives before the
    // end of the time it covers (the stream starts at the run at the earliest; a few
    // milliseconds allow for the two clocks' granularity).
    for (const auto& r : records) {
        const auto covered = std::chrono::microseconds(r.stop / 10);
        EXPECT_GE(r.arrival - runAt + 10ms, covered);
    }

    // A 440 Hz tone crosses zero 880 times a second; both channels carry it.
    ASSERT_EQ(last.size(), static_cast<size_t>(frames * 4));
    int crossings = 0;
    int16_t previous = 0;
    for (long i = 0; i < frames; ++i) {
        int16_t left = 0;
        int16_t right = 0;
        std::memcpy(&left, &last[i * 4], 2);
        std::memcpy(&right, &last[i * 4 + 2], 2);
        EXPECT_EQ(left, right);
        if (i > 0 && ((previous < 0) != (left < 0))) {
            ++crossings;
        }
        previous = left;
    }
    EXPECT_NEAR(crossings, 44, 2);  // 50 ms of 880 crossings a second

    EXPECT_EQ(CameraConfig::ReadDword(vcam::kValueAudioBuffersProduced, 0) >= records.size(), true);
}
