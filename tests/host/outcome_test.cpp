// qscapture's outcome table against the job's own messages, for the restarts
// that Wine's SetupAPI never lets happen.
#include "job_test.h"
#include "outcome.h"

namespace {

TEST_F(JobTest, OutcomeOfRestarts)
{
    const struct {
        std::set<std::string> failing;
        DWORD installFlags;
        Outcome outcome;
    } table[] = {
        {{}, 0, OutcomeRestarted},
        {{}, DI_NEEDREBOOT, OutcomeRebootPending},
        // The enable taken on its third pass, then never.
        {{"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3"}, 0, OutcomeRestarted},
        {{"SetupDiCallClassInstaller#2", "SetupDiCallClassInstaller#3", "SetupDiCallClassInstaller#4"}, 0,
         OutcomeNotRestarted},
    };
    for (const auto &row : table) {
        SetUp();
        Settings(":1 enable= 0\r\n:2 switch= 3\r\n");
        AddDevice(Ids(ControllerId()));
        fake::world.failing = row.failing;
        fake::world.installFlags = row.installFlags;
        ConfigureDevice();
        OutcomeState state;
        StartOutcome(&state);
        for (const std::string &message : fake::world.log)
            NoteOutcomeMessage(&state, message.c_str());
        EXPECT_EQ(FinalOutcome(&state), row.outcome) << row.failing.size() << " failing, flags " << row.installFlags;
    }
}

} // namespace
