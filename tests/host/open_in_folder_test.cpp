// qscapture's log, opened in the folder it holds and checked: relative to
// that handle and by the bare name, so no folder above is looked up again.
#include <gtest/gtest.h>

#include "fakewin.h"
#include "open_in_folder.h"
#include "winternl.h"

namespace {

TEST(OpenInFolder, ByBareNameRelativeToHeldFolder)
{
    fake::Reset();
    int held;
    HANDLE log = AppendInFolder(&held, u"quillset.log");
    ASSERT_NE(log, nullptr);
    CloseHandle(log);
    ASSERT_EQ(fake::world.ntCreates.size(), 1u);
    const fake::NtCreate &call = fake::world.ntCreates[0];
    EXPECT_EQ(call.root, &held);
    EXPECT_EQ(call.name, u"quillset.log");
    EXPECT_EQ(call.attributes, static_cast<DWORD>(OBJ_CASE_INSENSITIVE));
    // Appends only, never deletable or renamed under us, a link in its
    // place opened itself; made when missing.
    EXPECT_EQ(call.access, static_cast<DWORD>(FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE));
    EXPECT_EQ(call.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(call.disposition, static_cast<DWORD>(FILE_OPEN_IF));
    EXPECT_EQ(call.options, static_cast<DWORD>(FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
                                               FILE_OPEN_REPARSE_POINT));
    EXPECT_EQ(fake::world.openHandles, 0);

    // A refusal comes back as the Win32 error that qscapture's message gives.
    fake::world.ntCreateStatus = static_cast<LONG>(0xC0000022);   // STATUS_ACCESS_DENIED
    EXPECT_EQ(AppendInFolder(&held, u"quillset.log"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

} // namespace
