// What becomes of an exception in quillset's window procedure.
#ifndef QUILLSET_EXCEPTION_POLICY_H
#define QUILLSET_EXCEPTION_POLICY_H

// The job runs inside WM_CREATE, a callback from the kernel, where 64-bit
// Windows and WOW64 may swallow an exception (KB976038): the window would
// then never be destroyed, and quillset would wait in its message loop for
// ever, holding Global\quillset. Where Windows offers the choice (7 SP1 with
// that update, and later), such an exception ends the process instead.
// Returns 1 when it does so from now on.
int LetCallbackExceptionsEndProcess(void);

#endif
