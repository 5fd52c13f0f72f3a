// qscheck --write: what its arguments mean, and that quillset's own reader
// reads back from its file exactly the two values and no other entry.
#include "job_test.h"

#include "crt_redirect.h"
#include "settings_text.h"

namespace {

TEST(WriteArgs, NamesValuesAndTheFile)
{
    const struct {
        std::vector<const wchar_t *> args;
        WriteArgsFault fault;
        int index, smEnable = -1, sdSwitch = -1;
        const wchar_t *file = nullptr;
    } rows[] = {
        {{L"SMEnable=1", L"SDSwitch=3"}, ArgsFine, 0, 1, 3, nullptr},
        {{L"sdswitch=0", L"C:\\a=b\\kvconfig.txt", L"SMENABLE=0"}, ArgsFine, 0, 0, 0, L"C:\\a=b\\kvconfig.txt"},
        {{L"SMEnable=1", L"SDSwitch=3", L"SDSwitc=1"}, UnknownSetting, 2},
        {{L"SMEnable=2", L"SDSwitch=3"}, ValueOutOfRange, 0},
        {{L"SMEnable=1", L"SDSwitch=33"}, ValueOutOfRange, 1},
        {{L"SMEnable=1", L"smenable=1", L"SDSwitch=3"}, SettingTwice, 1},
        {{L"SMEnable=1", L"kvconfig.txt"}, SettingMissing, 1},
        {{L"a", L"SMEnable=1", L"SDSwitch=3", L"b"}, SecondFile, 3},
    };
    for (const auto &row : rows) {
        WriteArgs parsed;
        EXPECT_EQ(ParseWriteArgs(static_cast<int>(row.args.size()), row.args.data(), &parsed), row.fault == ArgsFine);
        EXPECT_EQ(parsed.fault, row.fault) << row.index;
        EXPECT_EQ(parsed.faultIndex, row.index);
        if (row.fault == ArgsFine) {
            EXPECT_EQ(parsed.smEnable, row.smEnable);
            EXPECT_EQ(parsed.sdSwitch, row.sdSwitch);
            EXPECT_EQ(parsed.file, row.file);
        }
    }
}

TEST_F(JobTest, WrittenFileReadsBackExactly)
{
    for (int sm = 0; sm <= 1; sm++)
        for (int sd = 0; sd <= 3; sd++) {
            SetUp();
            char text[256];
            size_t length = 0;
            ASSERT_TRUE(SettingsFileText(sm, sd, text, sizeof text, &length));
            Settings(std::string(text, length));
            EXPECT_EQ(ReadConfigFile(), 1);
            EXPECT_EQ(SmEnableFromChar(SmEnableChar), static_cast<DWORD>(sm));
            EXPECT_EQ(SdSwitchFromChar(SdHostChar), static_cast<DWORD>(sd));

            // Every entry to the end of the file, as qscheck lists them.
            std::vector<std::pair<int, int>> entries;
            FILE *file = fopen(fake::SettingsPath, "rb");
            ASSERT_NE(file, nullptr);
            ScanSettings(
                file,
                [](void *seen, int id, long long, int value) {
                    static_cast<std::vector<std::pair<int, int>> *>(seen)->push_back({id, value});
                    return 1;
                },
                &entries);
            fclose(file);
            EXPECT_EQ(entries, (std::vector<std::pair<int, int>>{{'1', '0' + sm}, {'2', '0' + sd}}));
            ExpectAllReleased();
        }
}

}
