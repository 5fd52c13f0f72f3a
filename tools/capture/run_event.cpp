#include <stdio.h>

#include "run_event.h"

#include "run_events.h"

static const WCHAR SourceName[] = L"quillset";
static const WCHAR SourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quillset";
static const DWORD ErrorWarningInformation = 7;

static const struct {
    Outcome outcome;
    WORD type;
    DWORD id;
} Events[] = {
    {OutcomeRestarted, EVENTLOG_INFORMATION_TYPE, RUN_EVENT_RESTARTED},
    {OutcomeRebootPending, EVENTLOG_WARNING_TYPE, RUN_EVENT_REBOOT_PENDING},
    {OutcomeNotApplied, EVENTLOG_ERROR_TYPE, RUN_EVENT_NOT_APPLIED},
    {OutcomeKeyFailed, EVENTLOG_ERROR_TYPE, RUN_EVENT_KEY_FAILED},
    {OutcomeNotRestarted, EVENTLOG_WARNING_TYPE, RUN_EVENT_NOT_RESTARTED},
    {OutcomeStillRunning, EVENTLOG_ERROR_TYPE, RUN_EVENT_STILL_RUNNING},
    {OutcomeLeftDisabled, EVENTLOG_ERROR_TYPE, RUN_EVENT_LEFT_DISABLED},
    {OutcomeNotRunning, EVENTLOG_ERROR_TYPE, RUN_EVENT_NOT_RUNNING},
    {OutcomeLeftAlone, EVENTLOG_WARNING_TYPE, RUN_EVENT_LEFT_ALONE},
    {OutcomeCannotStart, EVENTLOG_ERROR_TYPE, RUN_EVENT_CANNOT_START},
};

// Event strings hold at most 31,839 characters each.
static const int MaxEventString = 31839;
static WCHAR Messages[MaxEventString + 1];

static void Widen(const char *text, WCHAR *out, int outSize)
{
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, out, outSize))
        out[0] = 0;
}

int ReportRunEvent(Outcome outcome, const char *outcomeText, const WCHAR *programPath, const char *version,
                   const char *messages)
{
    unsigned i = 0;
    while (i + 1 < sizeof Events / sizeof Events[0] && Events[i].outcome != outcome)
        i++;
    char code[16];
    snprintf(code, sizeof code, "%d", static_cast<int>(outcome));
    WCHAR codeW[16], textW[256], versionW[64];
    Widen(code, codeW, 16);
    Widen(outcomeText, textW, 256);
    Widen(version, versionW, 64);
    // The caller keeps the messages within an event string's size.
    Widen(messages, Messages, MaxEventString + 1);
    const WCHAR *strings[] = {codeW, textW, programPath, versionW, Messages};

    HANDLE source = RegisterEventSourceW(NULL, SourceName);
    if (source == NULL)
        return 0;
    int ok = ReportEventW(source, Events[i].type, 0, Events[i].id, NULL, 5, 0, strings, NULL);
    DWORD error = GetLastError();
    DeregisterEventSource(source);
    SetLastError(error);
    return ok;
}

int RegisterRunEventSource(void)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    HKEY key;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SourceKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL);
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return 0;
    }
    result = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(path),
                            (length + 1) * sizeof(WCHAR));
    if (result == ERROR_SUCCESS)
        result = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE *>(&ErrorWarningInformation), sizeof(DWORD));
    RegCloseKey(key);
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

int UnregisterRunEventSource(void)
{
    LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, SourceKey);
    SetLastError(result);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}
