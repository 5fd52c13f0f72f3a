#include <stdio.h>

#include "line_writer.h"

// Consoles before Windows 8 refuse a write of more than about 64 KB
// (ERROR_NOT_ENOUGH_MEMORY): a backlog goes out in pieces well below that.
static const DWORD MaxWrite = 16 * 1024;

static DWORD LineEnds(const char *bytes, DWORD length)
{
    DWORD count = 0;
    for (DWORD i = 0; i < length; i++)
        count += bytes[i] == '\n';
    return count;
}

static DWORD WINAPI WriteLines(void *context)
{
    LineWriter *writer = static_cast<LineWriter *>(context);
    for (;;) {
        EnterCriticalSection(&writer->lock);
        DWORD start = writer->written, pending = writer->posted - writer->written;
        int closing = writer->closing;
        LeaveCriticalSection(&writer->lock);
        if (pending == 0) {
            if (closing)
                return 0;
            WaitForSingleObject(writer->wake, INFINITE);
            continue;
        }
        // Up to the end of the ring; the poster only writes outside
        // [written, posted), so this part needs no lock.
        DWORD offset = start & (writer->size - 1);
        const char *piece = writer->ring + offset;
        DWORD length = pending < writer->size - offset ? pending : writer->size - offset;
        if (length > MaxWrite) {
            // Whole lines, unless one line is longer than a piece.
            DWORD end = MaxWrite;
            while (end > 0 && piece[end - 1] != '\n')
                end--;
            length = end > 0 ? end : MaxWrite;
        }
        DWORD done = 0, lost = 0;
        // A failed write loses its lines, and the note counts them; the
        // next ones are tried again. A line cut into pieces counts where
        // it ends.
        if (!WriteFile(writer->out, piece, length, &done, NULL) || done == 0 || done > length) {
            done = length;
            lost = LineEnds(piece, length);
        }
        EnterCriticalSection(&writer->lock);
        writer->written += done;
        writer->dropped += lost;
        LeaveCriticalSection(&writer->lock);
    }
}

int StartLineWriter(LineWriter *writer, HANDLE out, char *ring, DWORD size)
{
    ZeroMemory(writer, sizeof *writer);
    if (out == NULL || out == INVALID_HANDLE_VALUE)
        return 0;
    writer->wake = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (writer->wake == NULL)
        return 0;
    InitializeCriticalSection(&writer->lock);
    writer->out = out;
    writer->ring = ring;
    writer->size = size;
    writer->thread = CreateThread(NULL, 0, WriteLines, writer, 0, NULL);
    if (writer->thread != NULL)
        return 1;
    DeleteCriticalSection(&writer->lock);
    CloseHandle(writer->wake);
    ZeroMemory(writer, sizeof *writer);
    return 0;
}

static void CopyIn(LineWriter *writer, const char *bytes, DWORD length)
{
    DWORD offset = writer->posted & (writer->size - 1);
    DWORD first = length < writer->size - offset ? length : writer->size - offset;
    CopyMemory(writer->ring + offset, bytes, first);
    CopyMemory(writer->ring, bytes + first, length - first);
    writer->posted += length;
}

void PostLine(LineWriter *writer, const char *line, DWORD length)
{
    if (writer->thread == NULL)
        return;
    char note[96];
    DWORD noteLength = 0;
    EnterCriticalSection(&writer->lock);
    if (writer->dropped > 0)
        noteLength = snprintf(note, sizeof note, "(%lu lines not written here: the output was too slow or failed)\r\n",
                              writer->dropped);
    if (noteLength + length > writer->size - (writer->posted - writer->written))
        writer->dropped++;
    else {
        CopyIn(writer, note, noteLength);
        CopyIn(writer, line, length);
        writer->dropped = 0;
    }
    LeaveCriticalSection(&writer->lock);
    SetEvent(writer->wake);
}

int FinishLineWriter(LineWriter *writer, DWORD waitMs)
{
    if (writer->thread == NULL)
        return 1;
    EnterCriticalSection(&writer->lock);
    writer->closing = 1;
    LeaveCriticalSection(&writer->lock);
    SetEvent(writer->wake);
    return WaitForSingleObject(writer->thread, waitMs) == WAIT_OBJECT_0;
}

void CloseLineWriter(LineWriter *writer)
{
    if (writer->thread == NULL)
        return;
    CloseHandle(writer->thread);
    CloseHandle(writer->wake);
    DeleteCriticalSection(&writer->lock);
    writer->thread = NULL;
}
