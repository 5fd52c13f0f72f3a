#include "dll_search.h"
#include "exception_policy.h"
#include "job_test.h"

// Windows 8 and later narrow the search to System32; older Windows, or a
// refusal, must still take the current directory out of it.
TEST_F(JobTest, DllSearchIsNarrowedOnEveryWindows)
{
    const struct {
        bool exported;
        bool fails;
        int result;
        const char *search;
    } table[] = {
        {true, false, 1, "System32"},
        {true, true, 0, "without the current directory"},
        {false, false, 0, "without the current directory"},
    };
    for (const auto &row : table) {
        SetUp();
        fake::world.dllDirectoriesExported = row.exported;
        if (row.fails)
            fake::world.failing = {"SetDefaultDllDirectories"};
        EXPECT_EQ(LimitDllSearch(), row.result) << row.search;
        EXPECT_EQ(fake::world.dllSearch, row.search);
    }
}

// Where Windows can filter exceptions out of the window's callbacks, the
// filter is turned off and every other flag kept; elsewhere the run goes on.
TEST_F(JobTest, CallbackExceptionsEndTheProcess)
{
    EXPECT_EQ(LetCallbackExceptionsEndProcess(), 1);
    EXPECT_EQ(fake::world.exceptionPolicy, 0x2u);

    SetUp();
    fake::world.exceptionPolicyExported = false;
    EXPECT_EQ(LetCallbackExceptionsEndProcess(), 0);
    EXPECT_EQ(fake::world.exceptionPolicy, 0x3u);
}
