// qscapture's outcome table against the job's own messages, for the restarts
// that Wine's SetupAPI never lets happen.
#include "job_test.h"
#include "outcome.h"

namespace {

// The driver's key appears only after the tenth wait.
std::set<std::string> KeyAfterTenWaits()
{
    std::set<std::string> failing;
    for (int open = 1; open <= 10; open++)
        failing.insert("RegOpenKeyExA#" + std::to_string(open));
    return failing;
}

TEST_F(JobTest, OutcomeOfRestarts)
{
    const struct {
        std::set<std::string> failing;
        DWORD installFlags;
        Outcome outcome;
        const char *text = nullptr;      // what the log and the event say, where it is built
        ULONG problem = 0;               // the controller's after the enable
        bool disabled = false;           // before the run
        const char *recorded = "";       // the record's DisabledController
        const char *endsAfter = nullptr; // the run's last message, when it ends early
    } table[] = {
        // Disabled on purpose, or by a run cut short.
        {{}, 0, OutcomeLeftAlone, "values written, controller disabled and left so: they apply when it is enabled", 0,
         true},
        {{}, 0, OutcomeRestarted, nullptr, 0, true, "PCI\\STANDIN\\0"},
        {{"SetupDiCallClassInstaller"}, 0, OutcomeLeftDisabled, nullptr, 0, true, "PCI\\STANDIN\\0"},
        {{}, 0, OutcomeRestarted},
        {{}, DI_NEEDREBOOT, OutcomeRebootPending},
        // The enable taken on its third pass, then never.
        {{"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3"}, 0, OutcomeRestarted},
        {{"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3", "SetupDiCallClassInstaller#4"}, 0,
         OutcomeLeftDisabled, "values written, controller left disabled"},
        // A disable the class installer refused left the controller as it was.
        {{"SetupDiCallClassInstaller#1"}, 0, OutcomeNotRestarted},
        // What the state read after the enable says.
        {{}, 0, OutcomeNotRunning, "values written, controller does not run (problem code 10)", CM_PROB_FAILED_START},
        {{}, 0, OutcomeRebootPending, nullptr, CM_PROB_NEED_RESTART},
        {{}, 0, OutcomeLeftDisabled, "values written, controller left disabled", CM_PROB_DISABLED},
        {{"CM_Get_DevNode_Status"}, 0, OutcomeRestarted},
        {{"RegSetValueExA#1"}, 0, OutcomeKeyFailed, "SMEnable not written, SDSwitch written, controller does not run "
         "(problem code 10)", CM_PROB_FAILED_START},
        // A partial write says which value it wrote, and the restart still runs.
        {{"RegSetValueExA#1"}, 0, OutcomeKeyFailed, "SMEnable not written, SDSwitch written, controller restarted"},
        {{"RegSetValueExA#2"}, DI_NEEDREBOOT, OutcomeKeyFailed,
         "SMEnable written, SDSwitch not written, controller restarts at the next reboot"},
        {KeyAfterTenWaits(), 0, OutcomeKeyFailed, "SMEnable not written, SDSwitch written, controller restarted"},
        // A disable that took and no enable after it, however the run ended.
        {{"RegSetValueExA#1", "SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3",
          "SetupDiCallClassInstaller#4"},
         0, OutcomeLeftDisabled, "SMEnable not written, SDSwitch written, controller left disabled"},
        {{}, 0, OutcomeLeftDisabled, "values written, controller left disabled", 0, false, "", MsgDisablePassEnded},
        {{}, 0, OutcomeLeftDisabled, nullptr, 0, false, "", MsgStateChanged},
        // Ended inside the disable: it may have taken.
        {{}, 0, OutcomeLeftDisabled, nullptr, 0, false, "", MsgFound},
        {{"SetupDiCallClassInstaller#1"}, 0, OutcomeNotRestarted, nullptr, 0, false, "", MsgDisablePassEnded},
    };
    for (const auto &row : table) {
        SetUp();
        Settings(":1 enable= 0\r\n:2 switch= 3\r\n");
        AddDevice(Ids(ControllerId()));
        fake::world.failing = row.failing;
        fake::world.installFlags = row.installFlags;
        fake::world.devices[0].disabledInProfile = row.disabled;
        fake::world.record["DisabledController"] = {REG_SZ, std::string(row.recorded) + '\0'};
        fake::world.recordKeyExists = true;
        if (row.problem != 0) {
            // Running until the restart.
            fake::world.devices[0].statusFirst = {{DN_DRIVER_LOADED | DN_STARTED, 0}};
            fake::world.devices[0].status = DN_HAS_PROBLEM;
            fake::world.devices[0].problem = row.problem;
        }
        ConfigureDevice();
        OutcomeState state;
        StartOutcome(&state);
        for (const std::string &message : fake::world.log) {
            NoteOutcomeMessage(&state, message.c_str());
            if (row.endsAfter != nullptr && message == row.endsAfter)
                break;
        }
        EXPECT_EQ(FinalOutcome(&state), row.outcome) << row.failing.size() << " failing, flags " << row.installFlags;
        if (row.text != nullptr) {
            char text[128];
            DescribeOutcome(&state, FinalOutcome(&state), 0, text, sizeof text);
            EXPECT_STREQ(text, row.text);
        }
    }
}

} // namespace
