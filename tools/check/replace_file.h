// Replaces a file as a whole: a run stopped at any point leaves the old file
// or the new one, never a part of either.
#ifndef QUILLSET_REPLACE_FILE_H
#define QUILLSET_REPLACE_FILE_H

#include <windows.h>

// Writes bytes to path through a temporary file in the same folder, keeping
// a previous file as path.bak and creating a missing folder (one level).
// Returns 0 with *why (and the Win32 error in *error, or 0) when path was
// not replaced; then no temporary file is left and path is unchanged.
int ReplaceFileBytes(const wchar_t *path, const char *bytes, DWORD length, const char **why, DWORD *error);

// 1 when path is a file that holds exactly these bytes, which writing them
// again would only replace with a copy, and their .bak with the same text.
int FileHoldsBytes(const wchar_t *path, const char *bytes, DWORD length);

#endif
