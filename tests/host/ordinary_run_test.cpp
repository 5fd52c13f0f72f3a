// The whole job on an ordinary machine, message by message.
#include "job_test.h"

namespace {

TEST_F(JobTest, OrdinaryRun)
{
    Settings(":1 enable= 1\r\n:2 switch= 2\r\n");
    AddDevice(std::string());
    fake::world.devices[0].hasProperty = true;
    AddDevice(Ids("ROOT\\LEGACY_BEEP"));
    AddDevice(Ids(ControllerId()));
    ConfigureDevice();

    EXPECT_EQ(fake::world.log, (Log{
        "CurrentDirectory: C:\\users\\admin  \n",
        "WindowsDirectory is: C:\\windows  \n",
        "The FullPath is: C:\\windows\\kvinst  \n",
        "Current Directory set to C:\\windows\\kvinst  \n",
        "The file 'kvconfig.txt' was opened sucessfully \n",
        "ID Param: 1 \n", "SMEnable Value: 1 \n",
        "ID Param: 2 \n", "SdHost Value: 2 \n",
        "The file 'kvconfig.txt' was closed successfully! \n",
        "Always config Params \n",
        "Registry Key Exists and was opened successfully! ", "SMEnable value Set!",
        "RegOpenKeyEx SDHost sucessful!", "SD Registry Key present", "SdHost reg key value set correctly!",
        "Found it! \n", "Changed State on Device ID \n", "Device Disabled from RestartDevice \n",
        "[sleep 1000]",
        "Found it! \n", "Changed State on Device ID \n", "The controller runs again \n",
        "Device Re-Enabled from RestartDevice \n",
    }));
    EXPECT_EQ(Dword("SMEnable"), 1u);
    EXPECT_EQ(Dword("SDSwitch"), 2u);
    EXPECT_EQ(fake::world.stateChanges, (std::vector<std::pair<DWORD, DWORD>>{{2, DICS_DISABLE}, {2, DICS_ENABLE}}));
    EXPECT_EQ(fake::world.currentDirectory, "C:\\windows\\kvinst");
}

// Another run's lock is waited for, one made by anyone else never; the job
// runs in every case.
TEST_F(JobTest, OneRunAtATime)
{
    const char *wait = "Another quillset is running: waiting for it to end \n";
    const char *unusable =
        "The lock Global\\quillset was made by another program or cannot be used: going on without waiting \n";
    const struct {
        bool exists, byAdministrators, held;
        DWORD release;
        const char *failing;
        Log said;
        std::deque<DWORD> probe = {};   // then nothing pending
    } table[] = {
        {false, true, false, WAIT_OBJECT_0, "", {}},
        {true, true, false, WAIT_OBJECT_0, "", {}},
        {true, true, true, WAIT_OBJECT_0, "", {wait}},
        {true, true, true, WAIT_ABANDONED, "", {wait}},
        {true, true, true, WAIT_FAILED, "", {wait, unusable}},
        {true, false, true, WAIT_OBJECT_0, "", {unusable}},
        {true, true, true, WAIT_OBJECT_0, "GetSecurityInfo", {unusable}},
        {true, true, true, WAIT_OBJECT_0, "CreateMutexA", {unusable}},
        // The installation wait, which has no limit, comes before the lock,
        // and is asked again once the lock is ours.
        {true, true, true, WAIT_OBJECT_0, "", {"DeviceInstallInProgress() \n", "[sleep 2000]", wait},
         {WAIT_TIMEOUT}},
        {true, true, true, WAIT_OBJECT_0, "", {wait, "DeviceInstallInProgress() \n", "[sleep 2000]"},
         {WAIT_OBJECT_0, WAIT_TIMEOUT}},
    };
    for (const auto &row : table) {
        SetUp();
        fake::world.lockExists = row.exists;
        fake::world.lockByAdministrators = row.byAdministrators;
        fake::world.lockHeld = row.held;
        fake::world.lockRelease = row.release;
        fake::world.failing = {row.failing};
        fake::world.probeResults = row.probe;
        ConfigureDevice();
        Log log = row.said;
        log.insert(log.end(), {"CurrentDirectory: C:\\users\\admin  \n", "WindowsDirectory is: C:\\windows  \n",
                               "The FullPath is: C:\\windows\\kvinst  \n",
                               "Current Directory set to C:\\windows\\kvinst  \n",
                               "The file 'kvconfig.txt' could not be opened \n"});
        EXPECT_EQ(fake::world.log, log) << row.exists << row.byAdministrators << row.release << row.failing;
        ExpectAllReleased();
    }
}

}
