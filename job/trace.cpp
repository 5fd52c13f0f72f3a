#include <stdarg.h>
#include <stdio.h>

#include "job.h"

const DWORD TraceLevel = QUILLSET_TRACE_LEVEL;

void DebugTrace(DWORD level, const char *format, ...)
{
    if (TraceLevel < level)
        return;

    // A longer text is cut at 255 characters rather than overrunning.
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (written < 0)
        text[0] = '\0';

    // A %c of NUL ends the text there, as the debugger would show it anyway.
    int length = lstrlenA(text);
    OutputDebugStringA(text);
    if (length == 0 || text[length - 1] != '\n')
        OutputDebugStringA("\n");
}
