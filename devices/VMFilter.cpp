#include "devices/VMFilter.h"

#include "framework/WinHandles.h"

#include <climits>
#include <vector>

int32_t SensorIndexFromText(const std::wstring& Text) {
    // Decimal with an optional sign; anything else (empty, letters, out of range) is
    // not a number and selects the forward sensor.
    size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == L'+' || Text[i] == L'-')) {
        negative = Text[i] == L'-';
        ++i;
    }
    if (i == Text.size()) return 1;
    long long value = 0;
    for (; i < Text.size(); ++i) {
        if (Text[i] < L'0' || Text[i] > L'9') return 1;
        value = value * 10 + (Text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) return 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return 1;
    if (value > 2) return 2;
    return static_cast<int32_t>(value);
}

TVMFilter::TVMFilter(IUnknown* Filter) : sourceFilter_(Filter) {
    if (!Filter) return;
    Filter->QueryInterface(VMCtrl323_TLB::IID_IAMVMControl,
                           reinterpret_cast<void**>(sensorControl_.GetAddressOf()));
    LoadSensorIndex();
}

TVMFilter::~TVMFilter() {
    sensorControl_.Reset();
    sourceFilter_.Reset();
}

void TVMFilter::LoadSensorIndex() {
    fw::RegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SensorKeyPath, 0, KEY_ALL_ACCESS, key.put()) ==
        ERROR_SUCCESS) {
        // Read as a string whatever is stored: a value of another type (a number
        // written by hand or by another tool) is not a valid sensor text and selects
        // the forward sensor, instead of keeping the camera from opening.
        DWORD type = 0;
        DWORD size = 0;
        std::wstring text;
        if (::RegQueryValueExW(key.get(), SensorValueName, nullptr, &type, nullptr, &size) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size <= 4096) {
            std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
            DWORD got = size;
            if (::RegQueryValueExW(key.get(), SensorValueName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(buf.data()), &got) == ERROR_SUCCESS) {
                text.assign(buf.data());  // up to the first NUL, terminated or not
            }
        }
        SensorIndex = SensorIndexFromText(text);
    }
    ApplySensor();
}

bool TVMFilter::SelectSensor(int32_t Index) {
    SensorIndex = Index;
    bool stored = false;
    fw::RegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SensorKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, key.put(), nullptr) == ERROR_SUCCESS) {
        const std::wstring text = std::to_wstring(Index);
        stored = ::RegSetValueExW(key.get(), SensorValueName, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) ==
                 ERROR_SUCCESS;
    }
    ApplySensor();
    return stored;
}

void TVMFilter::ApplySensor() {
    // The driver's answer is not looked at: a refused switch is not reported.
    if (sensorControl_) sensorControl_->SelectSensor(SensorIndex);
}
