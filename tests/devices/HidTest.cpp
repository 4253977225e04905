// USB device lookup: the matching rules over a supplied device walk, and the SetupAPI walk
// itself on a machine without USB devices.
#include <gtest/gtest.h>

#include "devices/u_HID.h"

#include <string>
#include <vector>

namespace {

struct FakeDevice {
    std::string hardwareId;
    std::string description;
};

class FakeEntry final : public UsbDeviceEntry {
public:
    FakeEntry(const FakeDevice& d, std::vector<std::string>& reads) : d_(d), reads_(reads) {}
    std::string Property(DWORD property) const override {
        reads_.push_back(d_.hardwareId + (property == SPDRP_HARDWAREID ? "#id" : "#desc"));
        if (property == SPDRP_HARDWAREID) return d_.hardwareId;
        if (property == SPDRP_DEVICEDESC) return d_.description;
        return {};
    }

private:
    const FakeDevice& d_;
    std::vector<std::string>& reads_;
};

class HidTest : public ::testing::Test {
protected:
    void Use(std::vector<FakeDevice> devices) {
        devices_ = std::move(devices);
        previous_ = SetUsbDeviceWalk([this](const UsbDeviceVisitor& visit) {
            ++walks_;
            for (const FakeDevice& d : devices_) {
                FakeEntry entry(d, reads_);
                if (visit(entry)) return;
            }
        });
    }
    void TearDown() override { SetUsbDeviceWalk(previous_); }

    std::vector<FakeDevice> devices_;
    std::vector<std::string> reads_;
    int walks_ = 0;
    UsbDeviceWalk previous_;
};

}  // namespace

TEST_F(HidTest, MatchIsCaseInsensitiveOnBothSidesAndReportsLowerCaseId) {
    Use({{"USB\\VID_046D&PID_0825", "Other Camera"},
         {"USB\\VID_0AC8&PID_1234", "ZC0323 Camera Device"}});
    for (const char* ident : {"VID_0AC8", "vid_0ac8", "Vid_0Ac8&PID"}) {
        std::string id, desc;
        FindUsbDevice(ident, id, desc);
        EXPECT_EQ(id, "usb\\vid_0ac8&pid_1234") << ident;
        EXPECT_EQ(desc, "ZC0323 Camera Device") << ident;  // as stored, not lower-cased
    }
}

TEST_F(HidTest, FirstMatchInEnumerationOrderWinsAndLaterDevicesAreNotRead) {
    Use({{"USB\\VID_0AC8&PID_0001", "First Cam"},
         {"USB\\VID_0AC8&PID_0002", "Second Cam"},
         {"USB\\VID_1111&PID_0003", "Third"}});
    std::string id, desc;
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "usb\\vid_0ac8&pid_0001");
    EXPECT_EQ(desc, "First Cam");
    EXPECT_EQ(reads_, (std::vector<std::string>{"USB\\VID_0AC8&PID_0001#id",
                                                "USB\\VID_0AC8&PID_0001#desc"}));
}

TEST_F(HidTest, NoMatchKeepsTheCallersOutputs) {
    // An unreadable hardware id reads as empty and never matches; the walk goes on.
    Use({{"", "No Id"}, {"USB\\VID_046D&PID_0825", "Other"}});
    std::string id = "keep-id", desc = "keep-desc";
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "keep-id");
    EXPECT_EQ(desc, "keep-desc");
    EXPECT_EQ(reads_.size(), 2u);  // both ids read, no description
}

TEST_F(HidTest, BlankOrEmptyIdentPerformsNoLookup) {
    Use({{"USB\\VID_0AC8&PID_1234", "Cam"}});
    for (const char* ident : {"", " ", "    "}) {
        std::string id, desc;
        FindUsbDevice(ident, id, desc);
        EXPECT_TRUE(id.empty());
        EXPECT_TRUE(desc.empty());
    }
    EXPECT_EQ(walks_, 0);
}

TEST_F(HidTest, IdentWithSurroundingBlanksIsUsedUntrimmed) {
    Use({{"USB\\VID_0AC8&PID_1234", "Cam"}});
    std::string id, desc;
    FindUsbDevice(" vid_0ac8", id, desc);
    EXPECT_TRUE(id.empty());
}

TEST(HidSetupApi, WalkOverPresentUsbDevicesEndsWithoutAMatchHere) {
    // Wine has no USB devices: the real walk runs through SetupAPI and finds nothing.
    std::string id = "unchanged", desc = "unchanged";
    FindUsbDevice("vid_0ac8", id, desc);
    EXPECT_EQ(id, "unchanged");
    EXPECT_EQ(desc, "unchanged");
}
