// The settings file: where entries start, what is skipped, what ends the scan.
#include "job_test.h"

#include <tuple>

#include "crt_redirect.h"

namespace {

struct Case {
    const char *name;
    std::string bytes;
    int found;
    char smEnable;
    char sdHost;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class SettingsFormat : public JobTest, public testing::WithParamInterface<Case> {};

TEST_P(SettingsFormat, ReadsTheEntries)
{
    const Case &c = GetParam();
    Settings(c.bytes);
    EXPECT_EQ(ReadConfigFile(), c.found);
    EXPECT_EQ(SmEnableChar, c.smEnable);
    EXPECT_EQ(SdHostChar, c.sdHost);
    EXPECT_EQ(fake::world.fileModes.at(0), "rb");
    EXPECT_EQ(fake::world.currentDirectory, "C:\\windows\\kvinst");
}

const Case cases[] = {
    {"Ordinary", ":1 enable= 0\r\n:2 switch= 3\r\n", 1, '0', '3'},
    // Nine bytes of the file, not nine characters of the translated text.
    {"SkipCountsCrLfAsTwoBytes", ":1\r\nabcdefg0\r\n:2\r\n\r\n\r\n\r\n.1\r\n", 1, '0', '1'},
    {"LastSmEntryWins", ":1 enable= 0\r\n:1 enable= 1\r\n:2 switch= 1\r\n", 1, '1', '1'},
    {"SdEntryEndsTheScan", ":2 switch= 2\r\n:1 enable= 0\r\n", 1, '\0', '2'},
    {"DoubleColonIsAnIgnoredId", "::1 enable= 0\r\n:2 switch= 2", 1, '\0', '2'},
    {"ColonInsideTheSkip", ":1 ena:le= 0\r\n:2 switch= 2", 1, '0', '2'},
    {"ColonAsValueStartsNoEntry", ":1 enable= :2 switch= 2", 0, ':', '\0'},
    {"OtherIdsAreSkippedAfterTheId", ":3:2 switch= 1", 1, '\0', '1'},
    {"NoSdEntry", ":1 enable= 0\r\n", 0, '0', '\0'},
    {"Empty", "", 0, '\0', '\0'},
    {"ColonAsLastByte", "text:", 0, '\0', '\0'},
    {"SmValueRunsIntoTheEnd", ":1 enab", 0, '\xFF', '\0'},
    {"SdValueRunsIntoTheEnd", ":2 switch=", 1, '\0', '\xFF'},
    // The runtime's text-mode position is one byte past once a fill that
    // ended in the CR of a CR LF is used up: at 4 KiB, and at 512 bytes after
    // a seek.
    {"CrEndsAFill", std::string(4093, '.') + ":1\r\nabcdefg0Z\r\n:2 switch= 2\r\n", 1, '0', '2'},
    {"CrEndsAFillAfterASeek", ":1 enable= 0" + std::string(508, '.') + ":2\r\nabcdefg3Z\r\n", 1, '0', '3'},
};

INSTANTIATE_TEST_SUITE_P(, SettingsFormat, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

// What text mode would misread is refused before the scan, by the first
// rule that applies; everything else is read as before.
TEST_F(JobTest, MisreadableFilesAreRefused)
{
    const char *utf16 = "The file 'kvconfig.txt' is UTF-16 text: save it as ANSI text \n";
    const char *bareLf = "The file 'kvconfig.txt' has a line end without CR: save it with CR LF line ends \n";
    const char *ctrlZ = "The file 'kvconfig.txt' holds a Ctrl-Z byte: remove it \n";
    const struct {
        std::string bytes;
        const char *refusal;
    } table[] = {
        {std::string("\xFF\xFE:\0" "2\0", 6), utf16},
        {"\xFE\xFF:2 value = 2\n\x1A", utf16},
        {"\n:2 value = 2\r\n", bareLf},
        {":2 value = 2\r\n\x1A\r\r\n\n", bareLf},
        {":2 value = 2\r\n\x1A", ctrlZ},
        {":2 value = 2\r\r\n\r", nullptr},
        {"\xEF\xBB\xBF:2 value = 2\r\n", nullptr},
        {std::string(":2 value = 2\0\r\n", 15), nullptr},
        {std::string(4095, ' ') + "\r\n:2 value = 2\r\n", nullptr},   // CR and LF in two reads
    };
    for (const auto &row : table) {
        SetUp();
        Settings(row.bytes);
        EXPECT_EQ(ReadConfigFile(), row.refusal ? 0 : 1) << row.bytes;
        Log log = fake::Messages();
        if (row.refusal)
            EXPECT_EQ(Log(log.end() - 3, log.end()),
                      (Log{"The file 'kvconfig.txt' was opened sucessfully \n", row.refusal,
                           "The file 'kvconfig.txt' was closed successfully! \n"}));
        else
            EXPECT_EQ(SdHostChar, '2') << row.bytes;
        ExpectAllReleased();
    }
}

// A tool may watch the scan to its end; the settings stay those quillset reads.
TEST_F(JobTest, WatchedScanGoesOnPastTheSdEntry)
{
    Settings(":1 value = 0\r\n:2 value = 3\r\n:1 value = 1\r\n:x");
    std::vector<std::tuple<int, long long, int>> seen;
    auto watch = [](void *context, int id, long long idEnd, int value) {
        static_cast<decltype(seen) *>(context)->emplace_back(id, idEnd, value);
        return 1;
    };
    FILE *file = FakeFopen(fake::SettingsPath, "rb");
    EXPECT_EQ(ScanSettings(file, watch, &seen), 1);
    FakeFclose(file);
    EXPECT_EQ(seen, (decltype(seen){{'1', 2, '0'}, {'2', 16, '3'}, {'1', 30, '1'}, {'x', 44, NoEntryValue}}));
    EXPECT_EQ(SmEnableChar, '0');
    EXPECT_EQ(SdHostChar, '3');
}

TEST_F(JobTest, EntryTracesNameIdAndValue)
{
    Settings(std::string("x:\0", 3) + ":1 enable= 1\r\n:2 switch= 2\r\n:");
    EXPECT_EQ(ReadConfigFile(), 1);
    Log log = fake::Messages();
    EXPECT_EQ(Log(log.begin() + 5, log.end()),
              (Log{"ID Param: ", "\n", "ID Param: 1 \n", "SMEnable Value: 1 \n", "ID Param: 2 \n",
                   "SdHost Value: 2 \n", "The file 'kvconfig.txt' was closed successfully! \n"}));
}

TEST_F(JobTest, ColonAsLastByteTracesTheEndMarker)
{
    Settings("text:");
    EXPECT_EQ(ReadConfigFile(), 0);
    Log log = fake::Messages();
    EXPECT_EQ(Log(log.end() - 2, log.end()),
              (Log{"ID Param: \xFF \n", "The file 'kvconfig.txt' was closed successfully! \n"}));
}

// Every value character and the parameter it stands for.
TEST_F(JobTest, ValueCharactersMapToParameters)
{
    const struct {
        std::string file;
        DWORD smEnable, sdSwitch;
    } table[] = {
        {":1 enable= 0:2 switch= 0", 0, 0}, {":1 enable= 1:2 switch= 1", 1, 1},
        {":1 enable= x:2 switch= 2", 1, 2}, {":1 enable= \xB0:2 switch= 3", 1, 3},
        {":2 switch= 4", 1, 0},             {":2 switch= x", 1, 0},
        {":2 switch= \xB1", 1, 0},          {":2 switch=", 1, 0},
    };
    for (const auto &row : table) {
        SetUp();
        Settings(row.file);
        ConfigureDevice();
        EXPECT_EQ(Dword("SMEnable"), row.smEnable) << row.file;
        EXPECT_EQ(Dword("SDSwitch"), row.sdSwitch) << row.file;
    }
}

TEST_F(JobTest, NoSdEntryEndsTheJobSilently)
{
    Settings(":1 enable= 0\r\n");
    ConfigureDevice();
    EXPECT_EQ(fake::Messages().back(), "The file 'kvconfig.txt' was closed successfully! \n");
    EXPECT_EQ(fake::world.keyOpens, 0);
    EXPECT_EQ(fake::world.callCounts.count("SetupDiGetClassDevsA"), 0u);
}

TEST_F(JobTest, UnreachableSettingsEndTheJob)
{
    Settings(":2 switch= 2");
    fake::world.directories.clear();
    ConfigureDevice();
    EXPECT_EQ(fake::Messages().back(), "Set CurrentDirectory failed! \n");

    SetUp();
    ConfigureDevice();
    EXPECT_EQ(fake::Messages().back(), "The file 'kvconfig.txt' could not be opened \n");

    SetUp();
    Settings(":2 switch= 2");
    fake::world.failing = {"GetWindowsDirectoryA"};
    ConfigureDevice();
    EXPECT_EQ(fake::Messages().back(), "Error getting WindowsDirectory \n");
    EXPECT_EQ(fake::world.keyOpens, 0);
}

// A read error that never reaches the end must still end the scan.
TEST_F(JobTest, ReadErrorEndsTheScan)
{
    Settings(":1 enable= 0\r\n:2 switch= 2\r\n");
    fake::world.failing = {"fgetc#3"};
    EXPECT_EQ(ReadConfigFile(), 0);
    EXPECT_EQ(fake::world.callCounts["fgetc"], 3);
}

TEST_F(JobTest, FailedCloseStillReportsTheEntry)
{
    Settings(":2 switch= 2");
    fake::world.failing = {"fclose"};
    EXPECT_EQ(ReadConfigFile(), 1);
    EXPECT_EQ(fake::Messages().back(), "The file 'kvconfig.txt' could not be closed \n");
}

TEST_F(JobTest, DirectoryPathsNeverOverrun)
{
    // 252 characters still fit "\kvinst" into MAX_PATH; 253 do not.
    std::string windows = "C:\\" + std::string(249, 'w');
    fake::world.windowsDirectory = windows;
    fake::world.directories = {windows + "\\kvinst"};
    fake::world.files[windows + "\\kvinst\\kvconfig.txt"] = ":2 switch= 2";
    EXPECT_EQ(ReadConfigFile(), 1);

    SetUp();
    fake::world.windowsDirectory = windows + "w";
    EXPECT_EQ(ReadConfigFile(), 0);
    EXPECT_EQ(fake::world.callCounts.count("SetCurrentDirectoryA"), 0u);

    // An unreadable current directory is traced as empty.
    SetUp();
    fake::world.currentDirectory = std::string(300, 'c');
    ReadConfigFile();
    EXPECT_EQ(fake::Messages().front(), "CurrentDirectory:   \n");
}

}
