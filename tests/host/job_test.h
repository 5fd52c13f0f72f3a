// Shared fixture: a fresh stand-in world per test, and a leak check after it.
#ifndef QUILLSET_JOB_TEST_H
#define QUILLSET_JOB_TEST_H

#include <gtest/gtest.h>

#include "fakewin.h"
#include "job.h"

using Log = std::vector<std::string>;

// The controller's hardware ID list as the platform returns it.
inline std::string Ids(const std::string &first, const std::string &second = "PCI\\CC_0805")
{
    return first + '\0' + second + '\0' + '\0';
}

inline const char *ControllerId() { return "PCI\\VEN_1D5B&DEV_4F17&SUBSYS_00011D5B&REV_01"; }

class JobTest : public testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        SmEnableChar = SdHostChar = 0;
        SmEnableValue = SdSwitchValue = 0;
    }

    void TearDown() override { ExpectAllReleased(); }

    // Every key, device set, buffer, file and handle the job opened is
    // released, and the lock too.
    static void ExpectAllReleased()
    {
        EXPECT_EQ(fake::world.openKeys, 0);
        EXPECT_EQ(fake::world.openSets, 0);
        EXPECT_EQ(fake::world.liveBuffers, 0);
        EXPECT_EQ(fake::world.openFiles, 0);
        EXPECT_EQ(fake::world.openHandles, 0);
        EXPECT_EQ(fake::world.lockOwned, 0);
    }

    static void Settings(const std::string &bytes) { fake::world.files[fake::SettingsPath] = bytes; }

    static void AddDevice(const std::string &hardwareIds)
    {
        fake::Device device;
        device.hardwareIds = hardwareIds;
        fake::world.devices.push_back(device);
    }

    static DWORD Dword(const char *name)
    {
        const fake::Value &value = fake::world.values.at(name);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value.data.size(), 4u);
        const unsigned char *b = reinterpret_cast<const unsigned char *>(value.data.data());
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<DWORD>(b[3]) << 24;
    }
};

#endif
