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
        "Found it! \n", "Changed State on Device ID \n", "Device Re-Enabled from RestartDevice \n",
    }));
    EXPECT_EQ(Dword("SMEnable"), 1u);
    EXPECT_EQ(Dword("SDSwitch"), 2u);
    EXPECT_EQ(fake::world.stateChanges, (std::vector<std::pair<DWORD, DWORD>>{{2, DICS_DISABLE}, {2, DICS_ENABLE}}));
    EXPECT_EQ(fake::world.currentDirectory, "C:\\windows\\kvinst");
}

}
