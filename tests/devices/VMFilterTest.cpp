// Sensor selection against the stand-in camera: what the driver interface received
// (the camera writes it back as "LastSensor") and what the registry holds.
#include <gtest/gtest.h>

#include "devices/VMFilter.h"
#include "framework/WinHandles.h"
#include "standins/vcam/VCamConfig.h"

#include <strmif.h>

#include <optional>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kNothingApplied = 0xABCDEF01;

class VMFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
        SetLastSensor(kNothingApplied);
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, SensorKeyPath);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, vcam::kConfigKey);
    }

    static ComPtr<IBaseFilter> Camera() {
        ComPtr<IBaseFilter> f;
        ::CoCreateInstance(vcam::CLSID_OrvixTestCamera, nullptr, CLSCTX_INPROC_SERVER,
                           IID_PPV_ARGS(&f));
        return f;
    }
    // A filter without the driver interface.
    static ComPtr<IBaseFilter> Microphone() {
        ComPtr<IBaseFilter> f;
        ::CoCreateInstance(vcam::CLSID_OrvixTestMicrophone, nullptr, CLSCTX_INPROC_SERVER,
                           IID_PPV_ARGS(&f));
        return f;
    }
    static void SetLastSensor(DWORD v) {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueLastSensor, REG_DWORD,
                          &v, sizeof(v));
    }
    static LONG LastSensor() {
        DWORD v = 0, size = sizeof(v);
        ::RegGetValueW(HKEY_CURRENT_USER, vcam::kConfigKey, vcam::kValueLastSensor,
                       RRF_RT_REG_DWORD, nullptr, &v, &size);
        return static_cast<LONG>(v);
    }
    static void StoreText(const wchar_t* text) {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, SensorKeyPath, SensorValueName, REG_SZ, text,
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    static void CreateKeyOnly() {
        fw::RegKey key;
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SensorKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr);
    }
    static std::optional<std::wstring> StoredText() {
        wchar_t buf[64] = {};
        DWORD size = sizeof(buf);
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, SensorKeyPath, SensorValueName, RRF_RT_REG_SZ,
                           nullptr, buf, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(buf);
    }
};

}  // namespace

TEST_F(VMFilterTest, StoredTextDecidesTheAppliedSensor) {
    ComPtr<IBaseFilter> camera = Camera();
    ASSERT_TRUE(camera) << "stand-in camera not registered";
    const struct {
        const wchar_t* text;
        LONG applied;
    } cases[] = {{L"2", 2}, {L"1", 1}, {L"7", 2},  {L"0", 0},          {L"-3", -3},
                 {L"", 1},  {L"x", 1}, {L"2x", 1}, {L"99999999999", 1}};
    for (const auto& c : cases) {
        StoreText(c.text);
        SetLastSensor(kNothingApplied);
        TVMFilter f(camera.Get());
        EXPECT_EQ(f.SensorIndex, c.applied)
            << "SensorID \"" << std::string(c.text, c.text + wcslen(c.text)) << '"';
        EXPECT_EQ(LastSensor(), c.applied);
        // Reading never rewrites the stored text ("7" stays "7").
        EXPECT_EQ(StoredText().value_or(L"?"), c.text);
    }
}

TEST_F(VMFilterTest, MissingValueInAnExistingKeyAppliesTheForwardSensor) {
    ComPtr<IBaseFilter> camera = Camera();
    ASSERT_TRUE(camera);
    CreateKeyOnly();
    TVMFilter f(camera.Get());
    EXPECT_EQ(f.SensorIndex, 1);
    EXPECT_EQ(LastSensor(), 1);
}

TEST_F(VMFilterTest, ValueOfAnotherTypeAppliesTheForwardSensorInsteadOfFailing) {
    ComPtr<IBaseFilter> camera = Camera();
    ASSERT_TRUE(camera);
    const DWORD two = 2;
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, SensorKeyPath, SensorValueName, REG_DWORD, &two,
                      sizeof(two));
    TVMFilter f(camera.Get());
    EXPECT_EQ(f.SensorIndex, 1);
    EXPECT_EQ(LastSensor(), 1);
    // A later choice repairs the value as text.
    EXPECT_TRUE(f.SelectSensor(2));
    EXPECT_EQ(StoredText().value_or(L"?"), L"2");
    EXPECT_EQ(LastSensor(), 2);
}

TEST_F(VMFilterTest, MissingKeyAppliesZeroAndSelectCreatesIt) {
    ComPtr<IBaseFilter> camera = Camera();
    ASSERT_TRUE(camera);
    TVMFilter f(camera.Get());
    EXPECT_EQ(f.SensorIndex, 0);
    EXPECT_EQ(LastSensor(), 0);
    EXPECT_FALSE(StoredText().has_value());

    EXPECT_TRUE(f.SelectSensor(1));
    EXPECT_EQ(StoredText().value_or(L"?"), L"1");
    EXPECT_EQ(LastSensor(), 1);
    // No range check on a choice: it is stored and applied as given.
    EXPECT_TRUE(f.SelectSensor(5));
    EXPECT_EQ(StoredText().value_or(L"?"), L"5");
    EXPECT_EQ(LastSensor(), 5);

    // A new object reads the key again.
    SetLastSensor(kNothingApplied);
    TVMFilter again(camera.Get());
    EXPECT_EQ(again.SensorIndex, 2);
    EXPECT_EQ(LastSensor(), 2);
}

TEST_F(VMFilterTest, FilterWithoutDriverInterfaceStillStores) {
    ComPtr<IBaseFilter> mic = Microphone();
    ASSERT_TRUE(mic);
    StoreText(L"1");
    TVMFilter f(mic.Get());
    EXPECT_EQ(f.SensorControl(), nullptr);
    EXPECT_EQ(f.SensorIndex, 1);  // the registry is read all the same
    EXPECT_TRUE(f.SelectSensor(2));
    EXPECT_EQ(StoredText().value_or(L"?"), L"2");
    EXPECT_EQ(LastSensor(), static_cast<LONG>(kNothingApplied));
}

TEST_F(VMFilterTest, NoFilterNoRegistryNoDriver) {
    StoreText(L"2");
    TVMFilter f(nullptr);
    EXPECT_EQ(f.SensorIndex, 0);
    EXPECT_EQ(f.SourceFilter(), nullptr);
    EXPECT_EQ(LastSensor(), static_cast<LONG>(kNothingApplied));
}

TEST_F(VMFilterTest, HoldsTheFilterUntilDestroyed) {
    ComPtr<IBaseFilter> camera = Camera();
    ASSERT_TRUE(camera);
    camera->AddRef();
    const ULONG before = camera->Release();
    {
        TVMFilter f(camera.Get());
        camera->AddRef();
        EXPECT_GT(camera->Release(), before);
    }
    camera->AddRef();
    EXPECT_EQ(camera->Release(), before);
}
