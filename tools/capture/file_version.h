// The file version of a program, read from its version resource.
#ifndef QUILLSET_FILE_VERSION_H
#define QUILLSET_FILE_VERSION_H

#include <windows.h>

// Writes "major.minor.build.revision" and returns 1, or writes "unknown" and
// returns 0 when the file has no readable version resource.
int ReadFileVersion(const WCHAR *path, char *out, DWORD outSize);

#endif
