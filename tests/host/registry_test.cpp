// Storing the parameters: the wait for the driver's key and failed writes.
#include "job_test.h"

namespace {

class Registry : public JobTest {
protected:
    void SetUp() override
    {
        JobTest::SetUp();
        Settings(":1 enable= 0\r\n:2 switch= 3\r\n");
    }

    // The log from "Always config Params" on.
    static Log AfterSettings()
    {
        Log &log = fake::world.log;
        for (size_t i = 0; i < log.size(); i++)
            if (log[i] == "Always config Params \n")
                return Log(log.begin() + i + 1, log.end());
        return Log();
    }
};

const Log restart = {"Device Disabled from RestartDevice \n", "[sleep 1000]",
                     "Device Re-Enabled from RestartDevice \n"};

Log Join(Log head, const Log &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(Registry, KeyAppearsAfterThreeFailedOpens)
{
    fake::world.failing = {"RegOpenKeyExA#1", "RegOpenKeyExA#2", "RegOpenKeyExA#3"};
    ConfigureDevice();
    const char *wait = "Reg key does not exist yet, wait 1s. ";
    EXPECT_EQ(AfterSettings(),
              Join({wait, "[sleep 1000]", wait, "[sleep 1000]", wait, "[sleep 1000]",
                    "Registry Key Exists and was opened successfully! ", "SMEnable value Set!",
                    "RegOpenKeyEx SDHost sucessful!", "SD Registry Key present", "SdHost reg key value set correctly!"},
                   restart));
    EXPECT_EQ(fake::world.keyOpens, 5);
    EXPECT_EQ(Dword("SMEnable"), 0u);
    EXPECT_EQ(Dword("SDSwitch"), 3u);
}

TEST_F(Registry, KeyNeverAppears)
{
    fake::world.keyExists = false;
    ConfigureDevice();
    Log expected;
    for (int i = 0; i < 10; i++)
        expected = Join(expected, {"Reg key does not exist yet, wait 1s. ", "[sleep 1000]"});
    expected = Join(expected, {"RegOpenKeyEx SDHost Failed!", "Error Waiting or Updating parameters \n"});
    EXPECT_EQ(AfterSettings(), expected);
    EXPECT_EQ(fake::world.keyOpens, 11);
    EXPECT_TRUE(fake::world.values.empty());
    EXPECT_EQ(fake::world.callCounts.count("SetupDiGetClassDevsA"), 0u);
}

// The SDSwitch phase always opens the key once more, even after ten misses.
TEST_F(Registry, KeyInTimeOnlyForSdSwitch)
{
    for (int i = 1; i <= 10; i++)
        fake::world.failing.insert("RegOpenKeyExA#" + std::to_string(i));
    ConfigureDevice();
    EXPECT_EQ(fake::world.values.count("SMEnable"), 0u);
    EXPECT_EQ(Dword("SDSwitch"), 3u);
    EXPECT_EQ(fake::world.log.back(), "Device Re-Enabled from RestartDevice \n");
}

// Without administrator rights the key exists but cannot be opened for
// writing: said once, with no waiting for a key that is already there. An
// ACL that grants setting values alone is enough.
TEST_F(Registry, WhatTheKeysAclGrants)
{
    const Log denied = {"Access to the kvcard Parameters key was denied: run quillset as administrator ",
                        "RegOpenKeyEx SDHost Failed!", "Error Waiting or Updating parameters \n"};
    const struct {
        REGSAM grants;
        Log log;
    } table[] = {
        {KEY_QUERY_VALUE, denied},
        {KEY_SET_VALUE, Join({"Registry Key Exists and was opened successfully! ", "SMEnable value Set!",
                              "RegOpenKeyEx SDHost sucessful!", "SD Registry Key present",
                              "SdHost reg key value set correctly!"},
                             restart)},
    };
    for (const auto &row : table) {
        SetUp();
        fake::world.keyGrants = row.grants;
        ConfigureDevice();
        EXPECT_EQ(AfterSettings(), row.log) << row.grants;
        EXPECT_EQ(fake::world.keyOpens, 2);
        ExpectAllReleased();
    }
    EXPECT_EQ(Dword("SDSwitch"), 3u);
}

TEST_F(Registry, FailedWritesAreReportedAndNotRetried)
{
    fake::world.failing = {"RegSetValueExA#1", "RegSetValueExA#2"};
    ConfigureDevice();
    EXPECT_EQ(AfterSettings(),
              Join({"Registry Key Exists and was opened successfully! ", "Error setting SMEnable registry value!",
                    "RegOpenKeyEx SDHost sucessful!", "SD Registry Key present", "Error setting the registry value!"},
                   restart));
    EXPECT_EQ(fake::world.keyOpens, 2);
}

}
