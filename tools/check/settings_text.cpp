#include "settings_text.h"

#include <string.h>

static const wchar_t *const Names[] = {L"SMEnable", L"SDSwitch"};
static const int Highest[] = {1, 3};

// Whether name (length characters) is expected, in any case of ASCII letters.
static int SameName(const wchar_t *name, size_t length, const wchar_t *expected)
{
    size_t i = 0;
    for (; i < length && expected[i] != L'\0'; i++) {
        wchar_t c = name[i] >= L'A' && name[i] <= L'Z' ? name[i] + (L'a' - L'A') : name[i];
        wchar_t e = expected[i] >= L'A' && expected[i] <= L'Z' ? expected[i] + (L'a' - L'A') : expected[i];
        if (c != e)
            return 0;
    }
    return i == length && expected[i] == L'\0';
}

// NAME=VALUE with a name of letters; anything else is taken for the file.
static int LooksLikeSetting(const wchar_t *arg, size_t *nameLength)
{
    size_t i = 0;
    while ((arg[i] >= L'a' && arg[i] <= L'z') || (arg[i] >= L'A' && arg[i] <= L'Z'))
        i++;
    *nameLength = i;
    return i > 0 && arg[i] == L'=';
}

static int Fault(WriteArgs *parsed, WriteArgsFault fault, int index)
{
    parsed->fault = fault;
    parsed->faultIndex = index;
    return 0;
}

int ParseWriteArgs(int count, const wchar_t *const *args, WriteArgs *parsed)
{
    int *values[] = {&parsed->smEnable, &parsed->sdSwitch};
    parsed->smEnable = parsed->sdSwitch = -1;
    parsed->file = NULL;
    parsed->fault = ArgsFine;
    parsed->faultIndex = 0;
    for (int i = 0; i < count; i++) {
        size_t nameLength;
        if (!LooksLikeSetting(args[i], &nameLength)) {
            if (parsed->file != NULL)
                return Fault(parsed, SecondFile, i);
            parsed->file = args[i];
            continue;
        }
        int k = SameName(args[i], nameLength, Names[0]) ? 0 : SameName(args[i], nameLength, Names[1]) ? 1 : -1;
        if (k < 0)
            return Fault(parsed, UnknownSetting, i);
        if (*values[k] >= 0)
            return Fault(parsed, SettingTwice, i);
        const wchar_t *value = args[i] + nameLength + 1;
        if (value[0] < L'0' || value[0] > L'0' + Highest[k] || value[1] != L'\0')
            return Fault(parsed, ValueOutOfRange, i);
        *values[k] = value[0] - L'0';
    }
    for (int k = 0; k < 2; k++)
        if (*values[k] < 0)
            return Fault(parsed, SettingMissing, k);
    return 1;
}

int SettingsFileText(int smEnable, int sdSwitch, char *text, size_t size, size_t *length)
{
    // No colon in the comments: every colon starts an entry. Each value is
    // the tenth byte after its ID, as quillset counts.
    static const char format[] = "SM card slot (SMEnable), 0 = off, 1 = on\r\n"
                                 ":1 value = #\r\n"
                                 "SD host switch (SDSwitch), 0 to 3\r\n"
                                 ":2 value = #\r\n";
    if (size < sizeof format || smEnable < 0 || smEnable > 1 || sdSwitch < 0 || sdSwitch > 3)
        return 0;
    memcpy(text, format, sizeof format);
    char *mark = strchr(text, '#');
    *mark = static_cast<char>('0' + smEnable);
    *strchr(mark, '#') = static_cast<char>('0' + sdSwitch);
    *length = sizeof format - 1;
    return 1;
}
