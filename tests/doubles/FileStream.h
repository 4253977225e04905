// A file as an IStream, created (or emptied) on opening and closed with its last reference.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <string>

namespace doubles {

HRESULT CreateFileStream(const std::wstring& path, Microsoft::WRL::ComPtr<IStream>& stream);

}  // namespace doubles
