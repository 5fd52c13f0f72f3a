// qscheck --verify: how each reading of the file, the key and the controller
// enters the line and the exit code, and the line's limit.
#include <string>

#include <gtest/gtest.h>

#include "verdict.h"

namespace {

const std::wstring Path = L"C:\\Windows\\kvinst\\kvconfig.txt";

std::wstring Verdict(const VerifyReadings &readings, int *exitCode)
{
    wchar_t line[VerdictLineChars + 1];
    *exitCode = ComposeVerdict(&readings, line);
    return line;
}

// The file says SMEnable 0 and SDSwitch 3.
#define VALUES L" SMEnable=0 want=0 SDSwitch=3 want=3 controller="

TEST(Verdict, EachReadingEntersTheLine)
{
    const struct {
        FileReading file;
        KeyReading key;
        DWORD smEnable;        // the key's SMEnable; SDSwitch is 3 unless missing or not a DWORD
        ValueReading sdSwitch;
        DeviceState controller;
        DWORD problem;
        int exitCode;
        const wchar_t *line; // between "state=" and " file="
    } rows[] = {
        {FileRead, KeyOpened, 0, ValueDword, DeviceRunning, 0, 0, L"in-line" VALUES L"running"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceDisabled, 22, 1, L"drift reason=controller" VALUES L"disabled"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceProblem, 10, 1, L"drift reason=controller" VALUES L"problem-10"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceNeedsReboot, 14, 1,
         L"drift reason=controller" VALUES L"needs-reboot"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceNotStarted, 0, 1, L"drift reason=controller" VALUES L"not-started"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceAbsent, 0, 0, L"in-line" VALUES L"absent"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceStateUnknown, 0, 0, L"in-line" VALUES L"unknown"},
        {FileRead, KeyOpened, 1, ValueMissing, DeviceDisabled, 22, 1,
         L"drift reason=SMEnable,SDSwitch,controller SMEnable=1 want=0 SDSwitch=missing want=3 controller=disabled"},
        {FileRead, KeyOpened, 0, ValueNotDword, DeviceRunning, 0, 1,
         L"drift reason=SDSwitch SMEnable=0 want=0 SDSwitch=not-dword want=3 controller=running"},
        // No driver: nothing to mend, whatever else is wrong.
        {FileMissing, KeyNoDriver, 0, ValueDword, DeviceDisabled, 22, 0,
         L"not-applicable reason=driver-not-installed SMEnable=missing want=unknown SDSwitch=missing want=unknown "
         L"controller=disabled"},
        // What keeps us from comparing goes before a controller that is off.
        {FileBareLf, KeyAccessDenied, 0, ValueDword, DeviceDisabled, 22, 1,
         L"cannot-tell reason=file-bare-lf,key-denied SMEnable=unknown want=unknown SDSwitch=unknown want=unknown "
         L"controller=disabled"},
        {FileNoId2, KeyNoParameters, 0, ValueDword, DeviceRunning, 0, 1,
         L"cannot-tell reason=file-no-id-2,parameters-key-missing SMEnable=missing want=unknown SDSwitch=missing "
         L"want=unknown controller=running"},
        {FileRead, KeyError, 0, ValueDword, DeviceRunning, 0, 1,
         L"cannot-tell reason=key-error-1018 SMEnable=unknown want=0 SDSwitch=unknown want=3 controller=running"},
    };
    for (const auto &row : rows) {
        VerifyReadings readings = {row.file, {0, 3}, row.key, 1018, {ValueDword, row.sdSwitch}, {row.smEnable, 3},
                                   row.controller, row.problem, Path.c_str()};
        int exitCode = -1;
        EXPECT_EQ(Verdict(readings, &exitCode), L"state=" + std::wstring(row.line) + L" file=" + Path);
        EXPECT_EQ(exitCode, row.exitCode) << std::wstring(row.line).c_str();
    }
}

TEST(Verdict, LongPathIsCutToTheLimit)
{
    // Cyrillic letters (2 bytes in UTF-8) that fit, that put a surrogate
    // pair (4) astride the cut, or ASCII letters: cut to the very byte.
    const struct {
        wchar_t letter;
        size_t count, letterBytes;
    } paths[] = {{L'\x0436', 950, 2}, {L'\x0436', 981, 2}, {L'x', 2100, 1}};
    for (const auto &p : paths) {
        std::wstring path = L"C:\\" + std::wstring(p.count, p.letter) + L"\xD83D\xDCBE\\kvconfig.txt";
        int exitCode;
        VerifyReadings readings = {FileRead, {0, 3}, KeyOpened, 0, {ValueDword, ValueDword}, {0, 3},
                                   DeviceRunning, 0, path.c_str()};
        std::wstring line = Verdict(readings, &exitCode);
        size_t file = line.find(L" file=") + 6, kept = line.size() - file;
        if (p.count == 950) {
            EXPECT_EQ(line.substr(file), path) << "a path that fits is cut";
            continue;
        }
        kept -= 3;
        EXPECT_EQ(line.substr(file + kept), L"...");
        EXPECT_EQ(line.substr(file, kept), path.substr(0, kept)) << p.count;
        ASSERT_LE(kept, 3 + p.count) << "the surrogate pair is cut";
        size_t bytes = file + 3 + (kept - 3) * p.letterBytes + 3;
        EXPECT_LE(bytes, VerdictLineChars);
        EXPECT_TRUE(p.letterBytes > 1 || bytes == VerdictLineChars) << "not cut to the very byte";
    }
}

} // namespace
