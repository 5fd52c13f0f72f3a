// qscheck --verify: how each reading of the file, the key and the controller
// enters the line and the exit code, and the line's limit.
#include <string>

#include <gtest/gtest.h>

#include "verdict.h"

namespace {

const wchar_t Path[] = L"C:\\Windows\\kvinst\\kvconfig.txt";

// The file says SMEnable 0 and SDSwitch 3, the key holds them, the controller runs.
VerifyReadings InLine()
{
    return {FileRead, {0, 3}, KeyOpened, 0, {ValueDword, ValueDword}, {0, 3}, DeviceRunning, 0, Path};
}

TEST(Verdict, EachReadingEntersTheLine)
{
    const struct {
        void (*change)(VerifyReadings *);
        int exitCode;
        const wchar_t *line; // before " file=<path>"
    } rows[] = {
        {[](VerifyReadings *) {}, 0, L"state=in-line SMEnable=0 want=0 SDSwitch=3 want=3 controller=running"},
        {[](VerifyReadings *r) { r->controller = DeviceDisabled, r->problem = 22; }, 1,
         L"state=drift reason=controller SMEnable=0 want=0 SDSwitch=3 want=3 controller=disabled"},
        {[](VerifyReadings *r) { r->controller = DeviceProblem, r->problem = 10; }, 1,
         L"state=drift reason=controller SMEnable=0 want=0 SDSwitch=3 want=3 controller=problem-10"},
        {[](VerifyReadings *r) { r->controller = DeviceNeedsReboot, r->problem = 14; }, 1,
         L"state=drift reason=controller SMEnable=0 want=0 SDSwitch=3 want=3 controller=needs-reboot"},
        {[](VerifyReadings *r) { r->controller = DeviceNotStarted; }, 1,
         L"state=drift reason=controller SMEnable=0 want=0 SDSwitch=3 want=3 controller=not-started"},
        {[](VerifyReadings *r) { r->controller = DeviceAbsent; }, 0,
         L"state=in-line SMEnable=0 want=0 SDSwitch=3 want=3 controller=absent"},
        {[](VerifyReadings *r) { r->controller = DeviceStateUnknown; }, 0,
         L"state=in-line SMEnable=0 want=0 SDSwitch=3 want=3 controller=unknown"},
        {[](VerifyReadings *r) { r->data[0] = 1, r->values[1] = ValueMissing, r->controller = DeviceDisabled; }, 1,
         L"state=drift reason=SMEnable,SDSwitch,controller SMEnable=1 want=0 SDSwitch=missing want=3 "
         L"controller=disabled"},
        {[](VerifyReadings *r) { r->values[0] = ValueNotDword, r->data[1] = 0xDEADBEEF; }, 1,
         L"state=drift reason=SMEnable,SDSwitch SMEnable=not-dword want=0 SDSwitch=3735928559 want=3 "
         L"controller=running"},
        // No driver: nothing to mend, whatever else is wrong.
        {[](VerifyReadings *r) { r->key = KeyNoDriver, r->file = FileMissing, r->controller = DeviceProblem; }, 0,
         L"state=not-applicable reason=driver-not-installed SMEnable=missing want=unknown SDSwitch=missing "
         L"want=unknown controller=problem-0"},
        // What keeps us from comparing goes before a controller that is off.
        {[](VerifyReadings *r) { r->file = FileBareLf, r->key = KeyAccessDenied, r->controller = DeviceDisabled; }, 1,
         L"state=cannot-tell reason=file-bare-lf,key-denied SMEnable=unknown want=unknown SDSwitch=unknown "
         L"want=unknown controller=disabled"},
        {[](VerifyReadings *r) { r->file = FileNoId2, r->key = KeyNoParameters; }, 1,
         L"state=cannot-tell reason=file-no-id-2,parameters-key-missing SMEnable=missing want=unknown "
         L"SDSwitch=missing want=unknown controller=running"},
        {[](VerifyReadings *r) { r->key = KeyError, r->keyError = 1018; }, 1,
         L"state=cannot-tell reason=key-error-1018 SMEnable=unknown want=0 SDSwitch=unknown want=3 "
         L"controller=running"},
    };
    for (const auto &row : rows) {
        VerifyReadings readings = InLine();
        row.change(&readings);
        wchar_t line[VerdictLineChars + 1];
        EXPECT_EQ(ComposeVerdict(&readings, line), row.exitCode) << std::wstring(row.line).c_str();
        EXPECT_EQ(std::wstring(line), std::wstring(row.line) + L" file=" + Path);
    }
}

// UTF-8 bytes as WideCharToMultiByte makes them of UTF-16 text.
size_t Utf8Length(const std::wstring &text)
{
    size_t bytes = 0;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned long c = static_cast<unsigned long>(text[i]);
        bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size();
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : pair ? 4 : 3;
        i += pair;
    }
    return bytes;
}

TEST(Verdict, LongPathIsCutToTheLimit)
{
    // Cyrillic letters (2 bytes each) that fit, that put a surrogate pair
    // astride the cut, or many ASCII letters: cut to the very byte.
    const struct {
        wchar_t letter;
        size_t count;
    } paths[] = {{L'\x0436', 950}, {L'\x0436', 981}, {L'x', 2100}};
    for (const auto &p : paths) {
        std::wstring path = L"C:\\" + std::wstring(p.count, p.letter) + L"\xD83D\xDCBE\\kvconfig.txt";
        VerifyReadings readings = InLine();
        readings.path = path.c_str();
        wchar_t line[VerdictLineChars + 1];
        ComposeVerdict(&readings, line);
        std::wstring text = line;
        EXPECT_LE(Utf8Length(text), VerdictLineChars);
        size_t file = text.find(L" file=") + 6;
        if (file + path.size() <= text.size())
            EXPECT_EQ(text.substr(file), path) << p.count;
        else {
            EXPECT_EQ(text.substr(text.size() - 3), L"...");
            EXPECT_EQ(path.compare(0, text.size() - 3 - file, text, file, text.size() - 3 - file), 0);
            EXPECT_FALSE(text[text.size() - 4] >= 0xD800 && text[text.size() - 4] <= 0xDBFF) << p.count;
            EXPECT_GT(Utf8Length(text), p.letter == L'x' ? VerdictLineChars - 1 : VerdictLineChars - 6) << p.count;
        }
    }
}

} // namespace
