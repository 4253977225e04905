// The capture devices and compressors of the system, as the capture controls pick them:
// four process-wide lists of named device monikers, filled from the system device
// enumerator.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

struct TCapDeviceInfo {
    std::string Name;  // "FriendlyName", system code page
    Microsoft::WRL::ComPtr<IMoniker> Moniker;
};

using TCapDeviceList = std::vector<std::unique_ptr<TCapDeviceInfo>>;

// Shared by every capture control; the last control to go empties them, while COM is
// still up (the monikers must not outlive it).
TCapDeviceList& VideoDeviceList();
TCapDeviceList& AudioDeviceList();
TCapDeviceList& VideoCompressorList();
TCapDeviceList& AudioCompressorList();
void ReleaseDeviceLists();

// The USB vendor id of the camera maker whose camera is listed first.
inline constexpr char PreferredCameraIdent[] = "vid_0ac8";

// Rebuilds the video and audio capture device lists. The video devices whose name begins
// with the first word of the preferred camera's USB description go to the front. Each list
// keeps its old entries until the new ones are complete (the enumeration services the
// message queue, and a choice made from a message meanwhile picks from the old list).
void RefreshDeviceLists();
// The two compressor lists are rebuilt only when a compressor is picked from them:
// enumerating their categories loads and frees every installed codec, which would hold
// up every device change, the camera's first picture among them. A device change marks
// them outdated; the refresh rebuilds them when outdated, never filled or last refused.
void MarkCompressorListsOutdated();
void RefreshOutdatedCompressorLists();

// Replaces List with the devices of one category (kept in the system's order, blank
// names skipped); with a non-empty Prefix, names beginning with it go to the front, the
// one enumerated last first. False (List untouched) when the enumerator could not be
// created.
bool FillDeviceList(const GUID& Category, TCapDeviceList& List, const std::string& Prefix);
