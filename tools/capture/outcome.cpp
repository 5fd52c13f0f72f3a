#include <stdio.h>
#include <string.h>

#include "messages.h"
#include "outcome.h"

enum OutcomeEvent {
    SettingsRead,
    SmWritten,
    SdWritten,
    KeyFailed,
    ValueFailed,
    StateChanged,
    DisablePassEnded,
    EnablePassFailed,
    LeftDisabled,
    RebootPending,
    LeftAlone,
    Found,
    StateNotChanged,
};

// quillset's own texts, byte for byte; every other message leaves the outcome alone.
static const struct {
    const char *text;
    OutcomeEvent event;
} Events[] = {
    {MsgSettingsRead, SettingsRead},
    {MsgSmEnableSet, SmWritten},
    {MsgSdSwitchSet, SdWritten},
    {MsgKeyDenied, KeyFailed},
    {MsgSdKeyNotOpened, KeyFailed},
    {MsgSmEnableNotSet, ValueFailed},
    {MsgSdSwitchNotSet, ValueFailed},
    {MsgStateChanged, StateChanged},
    // An earlier run's disable, found and resumed: this run's disable pass.
    {MsgOwnDisableFound, StateChanged},
    {MsgDisabledLeftAlone, LeftAlone},
    {MsgDisablePassEnded, DisablePassEnded},
    {MsgEnableRetry, EnablePassFailed},
    {MsgLeftDisabled, LeftDisabled},
    {MsgRebootPending, RebootPending},
    {MsgFound, Found},
    {MsgStateNotChanged, StateNotChanged},
};

void StartOutcome(OutcomeState *state)
{
    ZeroMemory(state, sizeof *state);
}

// CM_PROB_DISABLED: Device Manager's "This device is disabled".
static const DWORD ProblemDisabled = 22;

// MsgNotRunningFormat's text, and its problem code.
static int IsNotRunning(const char *text, DWORD *code)
{
    const size_t head = sizeof MsgNotRunningHead - 1;
    if (strncmp(text, MsgNotRunningHead, head) != 0 || text[head] < '0' || text[head] > '9')
        return 0;
    const char *digit = text + head;
    DWORD value = 0;
    for (; *digit >= '0' && *digit <= '9'; digit++)
        value = value * 10 + (*digit - '0');
    if (strcmp(digit, MsgNotRunningTail) != 0)
        return 0;
    *code = value;
    return 1;
}

void NoteOutcomeMessage(OutcomeState *state, const char *text)
{
    if (text == NULL)
        return;
    // Read after the enable pass the class installer took, the last pass.
    if (IsNotRunning(text, &state->problemCode)) {
        // Disabled after all: off across reboots, as after an enable that failed.
        if (state->problemCode == ProblemDisabled)
            state->leftDisabled = 1;
        else
            state->notRunning = 1;
        return;
    }
    for (unsigned i = 0; i < sizeof Events / sizeof Events[0]; i++) {
        if (strcmp(text, Events[i].text) != 0)
            continue;
        switch (Events[i].event) {
        case SettingsRead: state->settingsRead = 1; break;
        case SmWritten: state->smWritten = 1; break;
        case SdWritten: state->sdWritten = 1; break;
        case KeyFailed: state->keyFailed = 1; break;
        case ValueFailed: state->valueFailed = 1; break;
        // A pass changes the state at most once; of a retried enable pass
        // only the last attempt counts.
        case StateChanged: state->passChanged = 1; state->disableUnderWay = 0; break;
        case Found: state->disableUnderWay = !state->enablePass; break;
        case StateNotChanged: state->disableUnderWay = 0; break;
        case DisablePassEnded:
            state->disableUnderWay = 0;
            state->disableChanged = state->passChanged;
            state->passChanged = 0;
            state->enablePass = 1;
            break;
        case EnablePassFailed: state->passChanged = 0; break;
        case LeftDisabled: state->leftDisabled = 1; break;
        case RebootPending: state->rebootPending = 1; break;
        case LeftAlone: state->leftAlone = 1; state->disableUnderWay = 0; break;
        }
        return;
    }
}

// The enable pass's change is the one still pending when the run ends.
static int Restarted(const OutcomeState *state)
{
    return state->disableChanged && state->passChanged && !state->leftDisabled;
}

// A disable that took and no enable that took after it, also in a run that
// ended between them: the controller stays off across reboots. A run that
// ended inside the disable (a co-installer's crash, say) may have disabled
// it: the next run's record tells, and until then it counts as left so.
static int IsLeftDisabled(const OutcomeState *state)
{
    int disableTook = state->enablePass ? state->disableChanged : state->passChanged || state->disableUnderWay;
    return state->leftDisabled || (disableTook && !Restarted(state));
}

Outcome FinalOutcome(const OutcomeState *state)
{
    // The worst a run can do, whatever else it did or said.
    if (IsLeftDisabled(state))
        return OutcomeLeftDisabled;
    if (state->keyFailed || state->valueFailed)
        return OutcomeKeyFailed;
    if (!state->settingsRead)
        return OutcomeNotApplied;
    // One value without the other, and the words say which: the key came
    // after the tenth wait, too late for SMEnable, or the run ended between
    // the two writes.
    if (state->smWritten != state->sdWritten)
        return OutcomeKeyFailed;
    if (!state->smWritten)
        return OutcomeNotApplied;
    // A failure too, kept across reboots.
    if (state->notRunning)
        return OutcomeNotRunning;
    // Disabled, not by quillset: left so on purpose.
    if (state->leftAlone)
        return OutcomeLeftAlone;
    if (!Restarted(state))
        return OutcomeNotRestarted;
    return state->rebootPending ? OutcomeRebootPending : OutcomeRestarted;
}

const char *OutcomeText(Outcome outcome)
{
    switch (outcome) {
    case OutcomeRestarted: return "values written, controller restarted";
    case OutcomeNotApplied: return "settings not applied";
    case OutcomeKeyFailed: return "driver key missing or denied, nothing written";
    case OutcomeNotRestarted: return "values written, controller not restarted";
    case OutcomeStillRunning: return "quillset still running: it goes on without qscapture";
    case OutcomeLeftDisabled: return "values written, controller left disabled";
    case OutcomeNotRunning: return "values written, controller does not run";
    case OutcomeLeftAlone: return "values written, controller disabled and left so: they apply when it is enabled";
    case OutcomeCannotStart: return "program could not be started";
    case OutcomeRebootPending: return "values written, controller restarts at the next reboot";
    }
    return "";
}

void DescribeOutcome(const OutcomeState *state, Outcome outcome, DWORD runningSeconds, char *out, DWORD outSize)
{
    if (outcome == OutcomeStillRunning) {
        snprintf(out, outSize, "quillset still running after %lu s: it goes on without qscapture",
                 static_cast<unsigned long>(runningSeconds));
        return;
    }
    char notRunning[48];
    snprintf(notRunning, sizeof notRunning, "does not run (problem code %lu)",
             static_cast<unsigned long>(state->problemCode));
    if (outcome == OutcomeNotRunning) {
        snprintf(out, outSize, "values written, controller %s", notRunning);
        return;
    }
    // Only a key that could not be opened at all means nothing was written.
    int allWritten = state->smWritten && state->sdWritten;
    int partial = outcome == OutcomeKeyFailed ? state->valueFailed || state->smWritten || state->sdWritten
                                              : outcome == OutcomeLeftDisabled && !allWritten;
    if (!partial) {
        snprintf(out, outSize, "%s", OutcomeText(outcome));
        return;
    }
    // A failed open for SDSwitch ends the run before the restart.
    const char *restart = "not restarted";
    if (!state->keyFailed) {
        if (IsLeftDisabled(state))
            restart = "left disabled";
        else if (state->leftAlone)
            restart = "disabled and left so";
        else if (state->notRunning)
            restart = notRunning;
        else if (Restarted(state))
            restart = state->rebootPending ? "restarts at the next reboot" : "restarted";
    }
    snprintf(out, outSize, "SMEnable %s, SDSwitch %s, controller %s", state->smWritten ? "written" : "not written",
             state->sdWritten ? "written" : "not written", restart);
}
