// Sensor selection of the two-sensor ZC0323 camera: the sensor number remembered in the
// driver's registry key and handed to the driver through its private interface.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <string>

// The driver's control interface as its type library declares it. The program calls
// only the sensor switch, the nineteenth method after IUnknown; the eighteen before it
// are listed so that the switch sits in its slot.
namespace VMCtrl323_TLB {

// {69B8323A-5AC2-11D8-ADAF-00065B37CF9A}
inline constexpr IID IID_IAMVMControl = {
    0x69B8323A, 0x5AC2, 0x11D8, {0xAD, 0xAF, 0x00, 0x06, 0x5B, 0x37, 0xCF, 0x9A}};

struct IAMVMControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Method01(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method02(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method03(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method04(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method05(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method06(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method07(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method08(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method09(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method10(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method11(LONG, LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method12(LONG*, LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method13(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method14(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method15(LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method16(LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method17(LONG, LONG) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method18(LONG, LONG*) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectSensor(LONG Sensor) = 0;
};

}  // namespace VMCtrl323_TLB

// The driver's key under HKEY_LOCAL_MACHINE and the value holding the sensor number.
inline constexpr wchar_t SensorKeyPath[] = L"SOFTWARE\\ZSMC\\USBCAMERA\\ZC0323_2Sensor";
inline constexpr wchar_t SensorValueName[] = L"SensorID";

class TVMFilter {
public:
    // Takes a reference to Filter; with a filter, looks up the driver interface and
    // applies the remembered sensor number. Without one, does nothing else.
    explicit TVMFilter(IUnknown* Filter);
    ~TVMFilter();
    TVMFilter(const TVMFilter&) = delete;
    TVMFilter& operator=(const TVMFilter&) = delete;

    // Reads "SensorID" and applies it; a missing or unopenable key keeps SensorIndex.
    void LoadSensorIndex();
    // Stores Index as "SensorID" (creating the key) and applies it. True when stored.
    bool SelectSensor(int32_t Index);
    // Hands SensorIndex to the driver when it offers its interface.
    void ApplySensor();

    int32_t SensorIndex = 0;
    IUnknown* SourceFilter() const { return sourceFilter_.Get(); }
    VMCtrl323_TLB::IAMVMControl* SensorControl() const { return sensorControl_.Get(); }

private:
    Microsoft::WRL::ComPtr<IUnknown> sourceFilter_;
    Microsoft::WRL::ComPtr<VMCtrl323_TLB::IAMVMControl> sensorControl_;
};

// The sensor number a stored "SensorID" text stands for: a decimal integer (above 2
// becomes 2, below 1 is kept as written); anything else, the empty text included, 1.
int32_t SensorIndexFromText(const std::wstring& Text);
