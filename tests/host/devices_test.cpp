// Finding the controller by its first hardware ID and changing its state.
#include "job_test.h"

namespace {

const char Prefix[] = "PCI\\VEN_1D5B&DEV_4F17";
const int PrefixLength = 21;

class Devices : public JobTest {
protected:
    static int Disable() { return ChangeDeviceState(Prefix, DICS_DISABLE, PrefixLength); }
};

TEST_F(Devices, OnlyTheFirstMatchChangesInEachCall)
{
    AddDevice(Ids("PCI\\VEN_8086&DEV_1234"));
    AddDevice(Ids(ControllerId()));
    AddDevice(Ids(ControllerId()));
    EXPECT_EQ(RestartDevice(), 1);
    using Change = std::pair<DWORD, DWORD>;
    EXPECT_EQ(fake::world.stateChanges,
              (std::vector<Change>{{1, DICS_DISABLE}, {1, DICS_ENABLE}}));
    EXPECT_EQ(fake::world.log,
              (Log{"Found it! \n", "Changed State on Device ID \n", "Device Disabled from RestartDevice \n",
                   "[sleep 1000]", "Found it! \n", "Changed State on Device ID \n", "The controller runs again \n",
                   "Device Re-Enabled from RestartDevice \n"}));
}

TEST_F(Devices, PropertyChangeRecordIsGlobalThenConfigSpecific)
{
    AddDevice(Ids(ControllerId()));
    EXPECT_EQ(Disable(), 1);
    ASSERT_EQ(fake::world.classInstallParams.size(), 2u);
    for (DWORD i = 0; i < 2; i++) {
        const SP_PROPCHANGE_PARAMS &p = fake::world.classInstallParams[i];
        EXPECT_EQ(p.ClassInstallHeader.cbSize, 8u);
        EXPECT_EQ(p.ClassInstallHeader.InstallFunction, static_cast<DWORD>(DIF_PROPERTYCHANGE));
        EXPECT_EQ(p.StateChange, static_cast<DWORD>(DICS_DISABLE));
        EXPECT_EQ(p.Scope, i + 1);
        EXPECT_EQ(p.HwProfile, 0u);
    }
}

// The stand-in's class installer keeps a disable per scope: the job's
// change is config-specific, so it cannot undo a disable of every profile.
TEST_F(Devices, ConfigSpecificEnableLeavesAGlobalDisable)
{
    AddDevice(Ids(ControllerId()));
    fake::world.devices[0].disabledGlobally = true;
    EXPECT_EQ(ChangeDeviceState(Prefix, DICS_ENABLE, PrefixLength), 1);
    EXPECT_EQ(fake::world.log, (Log{"Found it! \n", "Changed State on Device ID \n",
                                    "The controller restarts at the next reboot \n"}));
    DWORD problem;
    EXPECT_EQ(ReadControllerState(&problem), DeviceDisabled);
    EXPECT_EQ(problem, static_cast<DWORD>(CM_PROB_DISABLED));
}

TEST_F(Devices, WhichIdsMatch)
{
    const struct {
        std::string ids;
        int found;
    } table[] = {
        {Ids("PCI\\VEN_1D5B&DEV_4F17"), 1},                       // the bare prefix
        {Ids("pci\\ven_1d5b&dev_4f17&SUBSYS_00011D5B"), 0},       // case-sensitive
        {Ids("PCI\\VEN_1D5B&DEV_4F1"), 0},
        {Ids("PCI\\VEN_8086&DEV_1234", ControllerId()), 0},       // only the first ID counts
        {std::string("PCI\\VEN_1D5B&DEV_4F1"), 0},               // unterminated, one short
        {std::string("\0\0", 2), 0},                              // no text
        {std::string(), 0},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(row.ids);
        EXPECT_EQ(Disable(), row.found) << row.ids;
    }
}

// A device without hardware IDs, or one unplugged while the list is read.
TEST_F(Devices, DevicesWithoutHardwareIdsAreSkipped)
{
    const struct {
        DWORD error;
        const char *message;
    } table[] = {
        {ERROR_INVALID_DATA, "GetDeviceRegistryProperty ERROR_INVALID_DATA \n"},
        {ERROR_NO_SUCH_DEVINST, "GetDeviceRegistryProperty ERROR_NO_SUCH_DEVINST \n"},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice("");
        fake::world.devices[0].readError = row.error;
        AddDevice(Ids(ControllerId()));
        EXPECT_EQ(Disable(), 1);
        EXPECT_EQ(fake::world.log, (Log{row.message, "Found it! \n", "Changed State on Device ID \n"}));
        ExpectAllReleased();
    }
}

TEST_F(Devices, UnknownPropertyErrorAbandonsTheSearch)
{
    AddDevice(Ids(ControllerId()));
    fake::world.devices[0].readError = ERROR_ACCESS_DENIED;
    AddDevice(Ids(ControllerId()));
    EXPECT_EQ(Disable(), 0);
    EXPECT_EQ(fake::world.log, (Log{"GetDeviceRegistryProperty Unknown failure\n"}));
    EXPECT_TRUE(fake::world.stateChanges.empty());
}

TEST_F(Devices, ClassInstallFailures)
{
    const struct {
        const char *failing;
        Log log;
    } table[] = {
        {"SetupDiSetClassInstallParamsA#1",
         {"Found it! \n", "SetClassInstallParams Failed!!", "Changed State on Device ID \n"}},
        {"SetupDiSetClassInstallParamsA#2", {"Found it! \n", "CallClassInstaller(REMOVE) failed\n"}},
        {"SetupDiCallClassInstaller", {"Found it! \n", "CallClassInstaller(REMOVE) failed\n"}},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(Ids(ControllerId()));
        fake::world.failing = {row.failing};
        EXPECT_EQ(Disable(), 1) << row.failing;
        EXPECT_EQ(fake::world.log, row.log) << row.failing;
    }
    // The installer is never called after a failed second setting.
    EXPECT_EQ(fake::world.callCounts.count("SetupDiCallClassInstaller"), 1u);
}

TEST_F(Devices, NoDeviceSet)
{
    fake::world.failing = {"SetupDiGetClassDevsA"};
    EXPECT_EQ(RestartDevice(), 1);
    const char *invalid = " GetClassDevs(All Present Devices) Invalid Handle \n";
    EXPECT_EQ(fake::world.log, (Log{invalid, "Device Disabled from RestartDevice \n", "[sleep 1000]", invalid,
                                    "Device Re-Enabled from RestartDevice \n"}));
}

TEST_F(Devices, FailedAllocationEndsOnlyThatDevicesTurn)
{
    AddDevice(Ids(ControllerId()));
    AddDevice(Ids(ControllerId()));
    fake::world.failing = {"LocalAlloc#1"};
    EXPECT_EQ(Disable(), 1);
    EXPECT_EQ(fake::world.stateChanges, (std::vector<std::pair<DWORD, DWORD>>{{1, DICS_DISABLE}}));
}

TEST_F(Devices, EverGrowingPropertyIsReadABoundedNumberOfTimes)
{
    AddDevice(Ids(ControllerId()));
    fake::world.devices[0].growth = 1;
    AddDevice(Ids(ControllerId()));
    EXPECT_EQ(Disable(), 1);
    EXPECT_LE(fake::world.callCounts["SetupDiGetDeviceRegistryPropertyA"], 8);
    EXPECT_EQ(fake::world.stateChanges, (std::vector<std::pair<DWORD, DWORD>>{{1, DICS_DISABLE}}));
}

}

namespace {

const char *const found = "Found it! \n";
const char *const changed = "Changed State on Device ID \n";
const char *const refused = "CallClassInstaller(REMOVE) failed\n";
const char *const disabled = "Device Disabled from RestartDevice \n";
const char *const enabled = "Device Re-Enabled from RestartDevice \n";
const char *const retry = "Enabling the controller failed, trying again in 1s \n";
const char *const runs = "The controller runs again \n";

// Once the controller is off, the enable is not given up lightly: failed
// passes are repeated, and other devices' read errors do not stop them.
TEST_F(Devices, EnableIsRetriedAfterADisableThatTookEffect)
{
    const struct {
        std::set<std::string> failing;
        Log log;
    } table[] = {
        {{"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3"},
         {found, changed, disabled, "[sleep 1000]", found, refused, retry, "[sleep 1000]", found, refused, retry,
          "[sleep 1000]", found, changed, runs, enabled}},
        {{"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3", "SetupDiCallClassInstaller#4"},
         {found, changed, disabled, "[sleep 1000]", found, refused, retry, "[sleep 1000]", found, refused, retry,
          "[sleep 1000]", found, refused,
          "The controller could not be enabled again: enable it in Device Manager \n", enabled}},
        {{"SetupDiGetClassDevsA#2"},
         {found, changed, disabled, "[sleep 1000]", " GetClassDevs(All Present Devices) Invalid Handle \n", retry,
          "[sleep 1000]", found, changed, runs, enabled}},
        // The other device's fifth read is the enable pass's first.
        {{"SetupDiGetDeviceRegistryPropertyA#5"},
         {found, changed, disabled, "[sleep 1000]", "GetDeviceRegistryProperty Unknown failure\n", found, changed,
          runs, enabled}},
        // A disable that did not take effect leaves one plain enable pass.
        {{"SetupDiCallClassInstaller#1", "SetupDiGetDeviceRegistryPropertyA#5"},
         {found, refused, disabled, "[sleep 1000]", "GetDeviceRegistryProperty Unknown failure\n", enabled}},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(Ids("ROOT\\LEGACY_BEEP"));
        AddDevice(Ids(ControllerId()));
        fake::world.failing = row.failing;
        fake::world.propertyError = ERROR_ACCESS_DENIED;
        EXPECT_EQ(RestartDevice(), 1);
        EXPECT_EQ(fake::world.log, row.log) << *row.failing.begin();
        ExpectAllReleased();
    }
}

TEST_F(Devices, ChangeLeftToTheNextRebootIsSaid)
{
    const char *reboot = "The controller restarts at the next reboot \n";
    const struct {
        DWORD flags;
        Log log;
    } table[] = {
        {DI_NEEDREBOOT, {found, changed, reboot, disabled, "[sleep 1000]", found, changed, reboot, enabled}},
        {DI_NEEDRESTART, {found, changed, reboot, disabled, "[sleep 1000]", found, changed, reboot, enabled}},
        {0x10, {found, changed, disabled, "[sleep 1000]", found, changed, runs, enabled}},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(Ids(ControllerId()));
        fake::world.installFlags = row.flags;
        RestartDevice();
        EXPECT_EQ(fake::world.log, row.log) << row.flags;
    }
}

// After an enable the class installer took, the state is read every 100 ms
// until the controller runs, for 10 s at most.
TEST_F(Devices, EnableIsConfirmed)
{
    const ULONG started = DN_DRIVER_LOADED | DN_STARTED, loaded = DN_DRIVER_LOADED, problem = DN_HAS_PROBLEM;
    const char *unreadable = "The controller's state cannot be read \n";
    const struct {
        std::deque<std::pair<ULONG, ULONG>> states;   // of the reads, the last one repeating
        bool stub;
        const char *failing;
        int polls;
        const char *said;
    } table[] = {
        {{{started, 0}}, false, "", 0, runs},
        {{{loaded, 0}, {problem, CM_PROB_DISABLED}, {loaded, 0}, {started, 0}}, false, "", 3, runs},
        {{{problem, CM_PROB_FAILED_START}}, false, "", 100, "The controller does not run (problem code 10) \n"},
        {{{loaded, 0}}, false, "", 100, "The controller does not run (problem code 0) \n"},
        {{{problem, CM_PROB_NEED_RESTART}}, false, "", 0, "The controller restarts at the next reboot \n"},
        {{{started, 0}}, true, "", 0, unreadable},
        {{{loaded, 0}}, false, "CM_Get_DevNode_Status#3", 1, unreadable},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(Ids(ControllerId()));
        fake::Device &device = fake::world.devices[0];
        // The first read is the one before the disable.
        device.statusFirst = row.states;
        device.statusFirst.push_front({started, 0});
        device.status = row.states.back().first;
        device.problem = row.states.back().second;
        device.statusStub = row.stub;
        fake::world.failing = {row.failing};
        RestartDevice();
        Log log = {found, changed, disabled, "[sleep 1000]", found, changed};
        log.insert(log.end(), row.polls, "[sleep 100]");
        log.insert(log.end(), {row.said, enabled});
        EXPECT_EQ(fake::world.log, log) << row.said << row.polls;
    }
}

// A controller that is disabled already is enabled only when quillset's
// record says an earlier run disabled it; the record of a disable lasts
// until the controller is no longer disabled.
TEST_F(Devices, ControllerDisabledBeforeTheRun)
{
    const char *own = "The controller is still disabled by an earlier quillset run: enabling it \n";
    const char *leftAlone =
        "The controller is disabled: quillset leaves it so; the settings apply when it is enabled \n";
    const char *notWritten = "The record under HKLM\\SOFTWARE\\quillset cannot be written: going on without it \n";
    const char *leftDisabled = "The controller could not be enabled again: enable it in Device Manager \n";
    const char *id = "PCI\\STANDIN\\1";
    const Log ordinary = {found, changed, disabled, "[sleep 1000]", found, changed, runs, enabled};
    const struct {
        const char *name;
        bool global, inProfile;   // disabled before the run
        const char *recorded;     // the record's DisabledController before the run
        std::set<std::string> failing;
        Log log;
        const char *recordedAfter;
        RunApplied applied;
    } table[] = {
        {"ours", false, true, "pci\\standin\\1", {}, {found, own, disabled, found, changed, runs, enabled}, "",
         AppliedRestarted},
        // In every profile, where our config-specific enable asks for a reboot and changes nothing.
        {"someone else's", true, false, nullptr, {}, {found, leftAlone, enabled}, nullptr, AppliedWhenEnabled},
        {"another device's record", false, true, "PCI\\STANDIN\\7", {}, {found, leftAlone, enabled},
         "PCI\\STANDIN\\7", AppliedWhenEnabled},
        {"running", false, false, nullptr, {}, ordinary, "", AppliedRestarted},
        {"the enable refused", false, false, nullptr,
         {"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3", "SetupDiCallClassInstaller#4"},
         {found, changed, disabled, "[sleep 1000]", found, refused, retry, "[sleep 1000]", found, refused, retry,
          "[sleep 1000]", found, refused, leftDisabled, enabled},
         id, AppliedNotRestarted},
        {"the disable refused", false, false, nullptr, {"SetupDiCallClassInstaller#1"},
         {found, refused, disabled, "[sleep 1000]", found, changed, runs, enabled}, "", AppliedNotRestarted},
        {"no record", false, false, nullptr, {"RegCreateKeyExA#1"},
         {found, notWritten, changed, disabled, "[sleep 1000]", found, changed, runs, enabled}, "", AppliedRestarted},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(Ids("ROOT\\LEGACY_BEEP"));
        AddDevice(Ids(ControllerId()));
        fake::world.devices[1].disabledGlobally = row.global;
        fake::world.devices[1].disabledInProfile = row.inProfile;
        if (row.recorded != nullptr) {
            fake::world.recordKeyExists = true;
            fake::world.record["DisabledController"] = {REG_SZ, std::string(row.recorded) + '\0'};
        }
        fake::world.failing = row.failing;
        SmEnableValue = 1;
        SdSwitchValue = 2;
        RestartDevice();
        EXPECT_EQ(fake::world.log, row.log) << row.name;
        auto recorded = fake::world.record.find("DisabledController");
        if (row.recordedAfter == nullptr)
            EXPECT_EQ(recorded, fake::world.record.end()) << row.name;
        else if (recorded != fake::world.record.end())
            EXPECT_EQ(recorded->second.data, std::string(row.recordedAfter) + '\0') << row.name;
        else
            ADD_FAILURE() << row.name << ": no DisabledController";
        const std::string &run = fake::world.record["LastRun"].data;
        ASSERT_EQ(run.size(), sizeof(RunRecord)) << row.name;
        RunRecord last;
        memcpy(&last, run.data(), sizeof last);
        EXPECT_EQ(last.applied, static_cast<DWORD>(row.applied)) << row.name;
        EXPECT_EQ(last.smEnable * 10 + last.sdSwitch, 12u) << row.name;
    }
}

TEST_F(Devices, Wow64IsSaidOnceAndTheRestartStillTried)
{
    AddDevice(Ids(ControllerId()));
    fake::world.wow64 = true;
    fake::world.failing = {"SetupDiCallClassInstaller"};   // as Windows refuses WOW64 callers
    RestartDevice();
    EXPECT_EQ(fake::world.log,
              (Log{"quillset is 32-bit on 64-bit Windows and cannot restart the controller: use the 64-bit build \n",
                   found, refused, disabled, "[sleep 1000]", found, refused, enabled}));
    // The record goes to the 64-bit view, where the x64 package's key is.
    EXPECT_TRUE(fake::world.record32.empty());
    EXPECT_EQ(fake::world.record.count("LastRun"), 1u);
}

}

namespace {

// The controller's state, for the compliance check: found as the restart
// finds it, then read from Configuration Manager.
TEST_F(JobTest, ControllerState)
{
    const struct {
        const char *name;
        std::string ids;
        ULONG status, problem;
        bool stub;
        DeviceState state;
        DWORD problemSeen;
    } table[] = {
        {"running", Ids(ControllerId()), DN_DRIVER_LOADED | DN_STARTED, 0, false, DeviceRunning, 0},
        {"disabled", Ids(ControllerId()), DN_HAS_PROBLEM, CM_PROB_DISABLED, false, DeviceDisabled, 22},
        {"problem 10", Ids(ControllerId()), DN_DRIVER_LOADED | DN_HAS_PROBLEM, CM_PROB_FAILED_START, false,
         DeviceProblem, 10},
        {"waits for a reboot", Ids(ControllerId()), DN_HAS_PROBLEM, CM_PROB_NEED_RESTART, false, DeviceNeedsReboot,
         14},
        {"not started", Ids(ControllerId()), DN_DRIVER_LOADED, 0, false, DeviceNotStarted, 0},
        {"absent", Ids("PCI\\VEN_1D5B&DEV_4F18"), DN_STARTED, 0, false, DeviceAbsent, 0},
        // Success with nothing written, or a status without any DN_ bit.
        {"unknown, nothing written", Ids(ControllerId()), DN_STARTED, 0, true, DeviceStateUnknown, 0},
        {"unknown, no bit", Ids(ControllerId()), 0, 5, false, DeviceStateUnknown, 0},
    };
    for (const auto &row : table) {
        SetUp();
        AddDevice(Ids("ROOT\\LEGACY_BEEP"));
        AddDevice(row.ids);
        fake::world.devices[1].status = row.status;
        fake::world.devices[1].problem = row.problem;
        fake::world.devices[1].statusStub = row.stub;
        DWORD problem = 99;
        EXPECT_EQ(ReadControllerState(&problem), row.state) << row.name;
        EXPECT_EQ(problem, row.problemSeen) << row.name;
        ExpectAllReleased();
    }
    SetUp();
    AddDevice(Ids(ControllerId()));
    fake::world.failing = {"CM_Get_DevNode_Status"};
    DWORD problem;
    EXPECT_EQ(ReadControllerState(&problem), DeviceStateUnknown);
}

} // namespace
