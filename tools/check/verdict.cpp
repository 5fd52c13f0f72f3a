#include "verdict.h"

#include <stdio.h>
#include <string.h>

static const char *const Names[] = {"SMEnable", "SDSwitch"};

// Short and free of spaces, so that each is one token of the line.
static const char *const FileReasons[] = {
    "", "file-missing", "file-denied", "file-not-opened", "file-utf16", "file-bare-lf", "file-ctrl-z",
    "file-unreadable", "file-no-id-2", "no-windows-folder",
};

// The reason list, comma-separated.
static void AddReason(char *reasons, size_t size, const char *reason)
{
    size_t used = strlen(reasons);
    snprintf(reasons + used, size - used, "%s%s", used > 0 ? "," : "", reason);
}

// Only a state that a restart may mend is drift: unknown says nothing, an
// absent controller has nothing to restart, and one disabled but not by
// quillset was disabled on purpose, which quillset leaves so.
static int ControllerOff(const VerifyReadings *r)
{
    if (r->controller == DeviceDisabled)
        return r->controllerRecorded;
    return r->controller == DeviceProblem || r->controller == DeviceNeedsReboot || r->controller == DeviceNotStarted;
}

// The clock and the tick count may drift apart by a few hundred parts per
// million, and be set by a few seconds, on one boot; a reboot takes longer.
static const ULONGLONG BootSlackMs = 15000;
static const ULONGLONG DriftShare = 4096;

// Whether the machine has started since the run. The tick count of XP and
// Server 2003 (GetTickCount) has 32 bits and wraps every 49.7 days: there,
// on the same boot, the ticks since the run are the clock's milliseconds
// modulo 2^32, and a reboot puts them anywhere else.
static int BootedSinceRun(const VerifyReadings *r)
{
    // A clock set back before the run counts as no time at all.
    ULONGLONG runTime = static_cast<ULONGLONG>(r->run.time.dwHighDateTime) << 32 | r->run.time.dwLowDateTime;
    ULONGLONG elapsedMs = r->now > runTime ? (r->now - runTime) / 10000 : 0;
    ULONGLONG slackMs = BootSlackMs + elapsedMs / DriftShare;
    if (!r->uptimeWraps)
        return r->uptimeMs + slackMs < elapsedMs;
    DWORD apart = static_cast<DWORD>(r->uptimeMs) - r->run.ticks - static_cast<DWORD>(elapsedMs);
    if (apart > 0x80000000u)
        apart = 0u - apart;
    return apart > slackMs;
}

// Whether the values the key holds are in effect, by quillset's record of
// the run that stored them; none (set by hand, or by an older quillset)
// says nothing.
enum InEffect { EffectUnknown, EffectRestart, EffectEnable, EffectReboot, EffectPending };
static const char *const EffectNames[] = {"unknown", "restart", "enable", "reboot", "pending"};

static InEffect ValuesInEffect(const VerifyReadings *r)
{
    const DWORD stored[] = {r->run.smEnable, r->run.sdSwitch};
    if (r->key != KeyOpened || !r->runRead)
        return EffectUnknown;
    for (int k = 0; k < 2; k++)
        if (r->values[k] != ValueDword || r->data[k] != stored[k])
            return EffectUnknown;
    switch (r->run.applied) {
    case AppliedRestarted: return EffectRestart;
    case AppliedWhenEnabled: return EffectEnable;
    case AppliedNotRestarted:
    case AppliedAtReboot: return BootedSinceRun(r) ? EffectReboot : EffectPending;
    }
    return EffectUnknown;
}

static void ControllerText(const VerifyReadings *r, char *text, size_t size)
{
    const char *name = "unknown";
    switch (r->controller) {
    case DeviceRunning: name = "running"; break;
    case DeviceNotStarted: name = "not-started"; break;
    case DeviceDisabled: name = "disabled"; break;
    case DeviceNeedsReboot: name = "needs-reboot"; break;
    case DeviceProblem: snprintf(text, size, "problem-%lu", static_cast<unsigned long>(r->problem)); return;
    case DeviceStateUnknown: break;
    case DeviceAbsent: name = "absent"; break;
    }
    snprintf(text, size, "%s", name);
}

static void ValueText(const VerifyReadings *r, int k, char *text, size_t size)
{
    if (r->key == KeyNoDriver || r->key == KeyNoParameters || (r->key == KeyOpened && r->values[k] == ValueMissing))
        snprintf(text, size, "missing");
    else if (r->key != KeyOpened)
        snprintf(text, size, "unknown");
    else if (r->values[k] == ValueNotDword)
        snprintf(text, size, "not-dword");
    else
        snprintf(text, size, "%lu", static_cast<unsigned long>(r->data[k]));
}

// UTF-8 bytes of one character, or more: a surrogate counts 3, what a lone
// one becomes (U+FFFD), though a pair takes only 4.
static size_t Utf8Bytes(wchar_t c)
{
    unsigned long code = static_cast<unsigned long>(c);
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

int ComposeVerdict(const VerifyReadings *r, wchar_t *line)
{
    char reasons[128] = "";
    InEffect effect = ValuesInEffect(r);
    const char *state;
    int exitCode = VerifyIssue;
    if (r->key == KeyNoDriver) {
        state = "not-applicable";
        exitCode = VerifyNoIssue;
        AddReason(reasons, sizeof reasons, "driver-not-installed");
    } else {
        // What keeps us from comparing comes first: quillset would stop at it
        // too, and say so in its outcome.
        if (r->file != FileRead)
            AddReason(reasons, sizeof reasons, FileReasons[r->file]);
        if (r->key == KeyNoParameters)
            AddReason(reasons, sizeof reasons, "parameters-key-missing");
        else if (r->key == KeyAccessDenied)
            AddReason(reasons, sizeof reasons, "key-denied");
        else if (r->key == KeyError) {
            char error[32];
            snprintf(error, sizeof error, "key-error-%lu", static_cast<unsigned long>(r->keyError));
            AddReason(reasons, sizeof reasons, error);
        }
        state = reasons[0] != '\0' ? "cannot-tell" : NULL;
        if (state == NULL) {
            for (int k = 0; k < 2; k++)
                if (r->values[k] != ValueDword || r->data[k] != r->want[k])
                    AddReason(reasons, sizeof reasons, Names[k]);
            if (ControllerOff(r))
                AddReason(reasons, sizeof reasons, "controller");
            // Nothing runs the values yet where the controller is absent or
            // disabled on purpose; they apply once it starts.
            if (effect == EffectPending && r->controller != DeviceAbsent &&
                (r->controller != DeviceDisabled || r->controllerRecorded))
                AddReason(reasons, sizeof reasons, "not-in-effect");
            state = reasons[0] != '\0' ? "drift" : "in-line";
            exitCode = reasons[0] != '\0' ? VerifyIssue : VerifyNoIssue;
        }
    }

    char values[2][16], want[2][16], controller[32], text[384];
    for (int k = 0; k < 2; k++) {
        ValueText(r, k, values[k], sizeof values[k]);
        if (r->file == FileRead)
            snprintf(want[k], sizeof want[k], "%lu", static_cast<unsigned long>(r->want[k]));
        else
            snprintf(want[k], sizeof want[k], "unknown");
    }
    ControllerText(r, controller, sizeof controller);
    snprintf(text, sizeof text, "state=%s%s%s SMEnable=%s want=%s SDSwitch=%s want=%s controller=%s applied=%s file=",
             state, reasons[0] != '\0' ? " reason=" : "", reasons, values[0], want[0], values[1], want[1], controller,
             EffectNames[effect]);

    // The path last, as it may hold spaces; cut where the line would pass
    // the limit, and never between the halves of a surrogate pair.
    size_t length = 0, bytes = 0;
    for (; text[length] != '\0'; length++)
        line[length] = static_cast<unsigned char>(text[length]);
    bytes = length;
    size_t pathBytes = 0, whole = 0;
    for (const wchar_t *c = r->path; *c != L'\0'; c++)
        pathBytes += Utf8Bytes(*c), whole++;
    if (bytes + pathBytes <= VerdictLineChars) {
        memcpy(line + length, r->path, whole * sizeof(wchar_t));
        length += whole;
    } else {
        for (const wchar_t *c = r->path; bytes + Utf8Bytes(*c) + 3 <= VerdictLineChars; c++)
            bytes += Utf8Bytes(*c), line[length++] = *c;
        if (length > 0 && line[length - 1] >= 0xD800 && line[length - 1] <= 0xDBFF)
            length--;
        for (int dot = 0; dot < 3; dot++)
            line[length++] = L'.';
    }
    line[length] = L'\0';
    return exitCode;
}
