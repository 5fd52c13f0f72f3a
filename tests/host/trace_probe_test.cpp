// The level-gated trace and the wait for installation quiet.
#include "job_test.h"

namespace {

TEST_F(JobTest, TraceIsGatedByLevel)
{
    DebugTrace(TraceLevel + 1, "hidden");
    DebugTrace(0xFFFFFFFF, "hidden");   // compared unsigned
    DebugTrace(TraceLevel, "shown %d", 4);
    EXPECT_EQ(fake::Messages(), (Log{"shown 4", "\n"}));
}

TEST_F(JobTest, TraceCompletesTheLineSeparately)
{
    DebugTrace(1, "done\n");
    DebugTrace(1, "open");
    DebugTrace(1, "%s", "");
    DebugTrace(1, "ID Param: %c \n", 0);   // NUL ends the text
    EXPECT_EQ(fake::Messages(), (Log{"done\n", "open", "\n", "", "\n", "ID Param: ", "\n"}));
}

TEST_F(JobTest, LongTraceIsCutNotOverrun)
{
    DebugTrace(1, "%s\n", std::string(300, 'a').c_str());
    EXPECT_EQ(fake::Messages(), (Log{std::string(255, 'a'), "\n"}));
}

TEST_F(JobTest, WaitsWhileInstallationsArePending)
{
    fake::world.probeResults = {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT};
    ConfigureDevice();
    Log head(fake::world.log.begin(), fake::world.log.begin() + 7);
    EXPECT_EQ(head, (Log{"DeviceInstallInProgress() \n", "[sleep 2000]", "DeviceInstallInProgress() \n",
                         "[sleep 2000]", "DeviceInstallInProgress() \n", "[sleep 2000]",
                         "CurrentDirectory: C:\\users\\admin  \n"}));
}

TEST_F(JobTest, UnusableProbeMeansNoActivity)
{
    fake::world.probeResults = {WAIT_FAILED};
    EXPECT_EQ(DeviceInstallInProgress(), 0);
    EXPECT_TRUE(fake::world.log.empty());

    fake::world.probeExported = false;
    EXPECT_EQ(DeviceInstallInProgress(), 0);
    fake::world.setupapiLoaded = false;
    EXPECT_EQ(DeviceInstallInProgress(), 0);
    EXPECT_EQ(fake::world.log,
              (Log{"OS to suppress autorun when appropriate\n", "Cannot get setupapi DLL\n"}));
}

}
