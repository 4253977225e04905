// A live source of silence for a recording without a microphone: the Windows Media
// writer runs only with its sound input connected (the format needs a sound stream), so
// when there is no sound to give it, it is given this.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

// Its sound: 44100 Hz, mono, 16-bit PCM.
inline constexpr DWORD SilenceSampleRate = 44100;
inline constexpr WORD SilenceChannels = 1;
inline constexpr WORD SilenceBits = 16;

// {BAC7E36E-2B8B-4F46-B0FD-6A4134D2BEEA}
inline constexpr GUID CLSID_OrvixSilentAudio = {
    0xbac7e36e, 0x2b8b, 0x4f46, {0xb0, 0xfd, 0x6a, 0x41, 0x34, 0xd2, 0xbe, 0xea}};

// A new filter with one output pin. While running it delivers a buffer of silence every
// 100 ms of the graph's reference clock, time-stamped with the stream time it covers.
// Made here, never registered: it is added to a graph by hand.
Microsoft::WRL::ComPtr<IBaseFilter> CreateSilentAudioSource();
