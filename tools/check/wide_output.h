// Text that may hold letters outside the ANSI code page, on qscheck's output.
#ifndef QUILLSET_WIDE_OUTPUT_H
#define QUILLSET_WIDE_OUTPUT_H

#include <stdio.h>
#include <windows.h>

// A console shows the text through its wide-character call, whatever its
// code page; anywhere else it goes out as UTF-8, of which all our other
// output is the ASCII part. Returns 0 when it could not be written.
int PrintWide(FILE *stream, const wchar_t *text);

#endif
