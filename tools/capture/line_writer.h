// Lines for a handle that may block for any time (a full pipe nobody reads, a
// console with a selection in it, a slow share), written by a thread of their
// own, so that whoever posts them never waits.
#ifndef QUILLSET_LINE_WRITER_H
#define QUILLSET_LINE_WRITER_H

#include <windows.h>

struct LineWriter {
    HANDLE out; // NULL: nothing to write to, lines are discarded
    char *ring;
    DWORD size; // a power of two, so the counters below may wrap
    DWORD posted, written; // bytes, guarded by lock
    DWORD dropped; // lines not posted for want of room, or whose write failed, since the last note
    int closing;
    CRITICAL_SECTION lock;
    HANDLE wake;
    HANDLE thread;
};

// Starts the thread that writes to out, through ring (size a power of two,
// more than the longest line). Returns 0 when it cannot; then posted lines
// are discarded.
int StartLineWriter(LineWriter *writer, HANDLE out, char *ring, DWORD size);
// Queues a whole line, or, when the ring lacks the room, drops it: the next
// line that fits is preceded by a note of how many were dropped or failed.
void PostLine(LineWriter *writer, const char *line, DWORD length);
// Returns 1 once every posted line is written and the thread has ended,
// or 0 after waitMs.
int FinishLineWriter(LineWriter *writer, DWORD waitMs);
// Only after FinishLineWriter returned 1, or when StartLineWriter failed.
void CloseLineWriter(LineWriter *writer);

#endif
