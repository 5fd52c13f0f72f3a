// Every platform call of an ordinary run, failed alone: the job still ends,
// says what failed, releases everything and writes the file's values exactly
// where its path still reaches the registry.
// The cases come from the calls the run makes, so a new call gets its own.
#include "job_test.h"

#include <algorithm>

namespace {

struct Fault {
    std::string call;   // "Name#n"
    DWORD error;        // for property reads: the kind of failure
};

void PrintTo(const Fault &f, std::ostream *os) { *os << f.call << " error " << f.error; }

void OrdinaryWorld()
{
    fake::Reset();
    SmEnableChar = SdHostChar = 0;
    SmEnableValue = SdSwitchValue = 0;
    fake::world.files[fake::SettingsPath] = ":1 enable= 0\r\n:2 switch= 3\r\n";
    fake::world.devices.resize(3);
    fake::world.devices[0].hasProperty = false;
    fake::world.devices[1].hardwareIds = Ids("ROOT\\LEGACY_BEEP");
    fake::world.devices[2].hardwareIds = Ids(ControllerId());
}

std::vector<Fault> Census()
{
    OrdinaryWorld();
    ConfigureDevice();
    std::vector<Fault> faults;
    for (const std::string &call : fake::world.calls) {
        if (call.compare(0, 34, "SetupDiGetDeviceRegistryPropertyA#") == 0) {
            for (DWORD error : {ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED})
                faults.push_back({call, error});
        } else {
            faults.push_back({call, 0});
        }
    }
    return faults;
}

struct Expectation {
    const char *message;   // must be among the messages
    bool smEnable;         // the values this path still writes (0 and 3), the
    bool sdSwitch;         // others stay unwritten
};

const char RecordNotWritten[] =
    "The record under HKLM\\SOFTWARE\\quillset cannot be written: going on without it \n";
const char LockUnusable[] =
    "The lock Global\\quillset was made by another program or cannot be used: going on without waiting \n";

// By "Name#n" where the place of the call matters, else by "Name".
const std::map<std::string, Expectation> expectations = {
    {"GetCurrentDirectoryA", {"CurrentDirectory:   \n", true, true}},
    {"GetWindowsDirectoryA", {"Error getting WindowsDirectory \n", false, false}},
    {"SetCurrentDirectoryA", {"Set CurrentDirectory failed! \n", false, false}},
    {"fopen#1", {"The file 'kvconfig.txt' could not be opened \n", false, false}},
    {"fopen#2", {"Error reading the file 'kvconfig.txt' \n", false, false}},   // the binary check
    {"fread", {"Error reading the file 'kvconfig.txt' \n", false, false}},
    {"fgetc", {"Error reading the file 'kvconfig.txt' \n", false, false}},
    {"fclose#1", {"Device Re-Enabled from RestartDevice \n", true, true}},   // nothing to lose on a read
    {"fclose#2", {"The file 'kvconfig.txt' could not be closed \n", true, true}},
    {"RegOpenKeyExA#1", {"Reg key does not exist yet, wait 1s. ", true, true}},
    {"RegOpenKeyExA#2", {"Error Waiting or Updating parameters \n", true, false}},
    {"RegSetValueExA#1", {"Error setting SMEnable registry value!", false, true}},
    {"RegSetValueExA#2", {"Error setting the registry value!", true, false}},
    {"SetupDiGetClassDevsA", {" GetClassDevs(All Present Devices) Invalid Handle \n", true, true}},
    {"SetupDiSetClassInstallParamsA#1", {"SetClassInstallParams Failed!!", true, true}},
    {"SetupDiSetClassInstallParamsA#2", {"CallClassInstaller(REMOVE) failed\n", true, true}},
    {"SetupDiSetClassInstallParamsA#3", {"SetClassInstallParams Failed!!", true, true}},
    {"SetupDiSetClassInstallParamsA#4", {"CallClassInstaller(REMOVE) failed\n", true, true}},
    {"SetupDiCallClassInstaller", {"CallClassInstaller(REMOVE) failed\n", true, true}},
    {"IsWow64Process", {"Device Re-Enabled from RestartDevice \n", true, true}},
    {"SetupDiGetDeviceInstallParamsA", {"Device Re-Enabled from RestartDevice \n", true, true}},
    {"LocalAlloc", {"GetDeviceRegistryProperty out of memory \n", true, true}},
    {"CM_Get_DevNode_Status#1", {"The controller runs again \n", true, true}},   // before the disable
    {"CM_Get_DevNode_Status", {"The controller's state cannot be read \n", true, true}},
    // Without its record the restart goes on.
    {"SetupDiGetDeviceInstanceIdA", {RecordNotWritten, true, true}},
    {"RegCreateKeyExA", {RecordNotWritten, true, true}},
    {"RegSetValueExA", {RecordNotWritten, true, true}},
    // Without the lock the job still runs.
    {"ConvertStringSecurityDescriptorToSecurityDescriptorA", {LockUnusable, true, true}},
    {"CreateMutexA", {LockUnusable, true, true}},
};

const std::map<DWORD, Expectation> propertyExpectations = {
    {ERROR_INVALID_DATA, {"GetDeviceRegistryProperty ERROR_INVALID_DATA \n", true, true}},
    {ERROR_INSUFFICIENT_BUFFER, {"Device Re-Enabled from RestartDevice \n", true, true}},
    {ERROR_ACCESS_DENIED, {"GetDeviceRegistryProperty Unknown failure\n", true, true}},
};

class FaultInjection : public JobTest, public testing::WithParamInterface<Fault> {};

TEST_P(FaultInjection, JobSurvivesTheFailure)
{
    const Fault &fault = GetParam();
    const Expectation *expected;
    if (fault.error) {
        expected = &propertyExpectations.at(fault.error);
    } else {
        auto byPlace = expectations.find(fault.call);
        auto byName = expectations.find(fault.call.substr(0, fault.call.find('#')));
        ASSERT_TRUE(byPlace != expectations.end() || byName != expectations.end())
            << "no expectation for a failing " << fault.call;
        expected = byPlace != expectations.end() ? &byPlace->second : &byName->second;
    }

    OrdinaryWorld();
    fake::world.failing = {fault.call};
    fake::world.propertyError = fault.error;
    ConfigureDevice();

    std::vector<std::string> calls = fake::world.calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), fault.call), calls.end()) << "the fault was never reached";
    Log messages = fake::Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), expected->message), messages.end())
        << "missing: " << testing::PrintToString(std::string(expected->message));
    ASSERT_EQ(fake::world.values.count("SMEnable"), expected->smEnable ? 1u : 0u);
    ASSERT_EQ(fake::world.values.count("SDSwitch"), expected->sdSwitch ? 1u : 0u);
    if (expected->smEnable) {
        EXPECT_EQ(Dword("SMEnable"), 0u);
    }
    if (expected->sdSwitch) {
        EXPECT_EQ(Dword("SDSwitch"), 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(, FaultInjection, testing::ValuesIn(Census()),
                         [](const testing::TestParamInfo<Fault> &info) {
                             std::string name = info.param.call + "_" + std::to_string(info.param.error);
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

}
