// What a quillset run achieved, read from its debugger messages, as an exit
// code a software-deployment tool understands.
#ifndef QUILLSET_OUTCOME_H
#define QUILLSET_OUTCOME_H

#include <windows.h>

enum Outcome {
    OutcomeRestarted = 0,
    OutcomeNotApplied = 1,
    OutcomeKeyFailed = 2,
    OutcomeNotRestarted = 3,
    OutcomeStillRunning = 4,
    OutcomeLeftDisabled = 5,
    OutcomeNotRunning = 6,
    OutcomeLeftAlone = 7,
    OutcomeCannotStart = 127,
    OutcomeRebootPending = 3010,
};

struct OutcomeState {
    int settingsRead, smWritten, sdWritten, keyFailed, valueFailed;
    int passChanged, disableChanged, enablePass, leftDisabled, rebootPending;
    int notRunning, leftAlone;
    // The disable pass found the controller and has not said what became of it.
    int disableUnderWay;
    DWORD problemCode;
};

void StartOutcome(OutcomeState *state);
// Feeds one message, exactly as written (NULL for an unreadable one).
void NoteOutcomeMessage(OutcomeState *state, const char *text);
Outcome FinalOutcome(const OutcomeState *state);
// A few words for the log.
const char *OutcomeText(Outcome outcome);
// The outcome's words for this run: OutcomeText, but a partial write says
// which value was written and what became of the restart, a controller that
// does not run gives its problem code, and a run left behind says after how
// long.
void DescribeOutcome(const OutcomeState *state, Outcome outcome, DWORD runningSeconds, char *out, DWORD outSize);

#endif
