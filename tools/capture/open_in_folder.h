// A file opened by its bare name in a folder that is already held open.
// CreateFileW takes only a whole path, and Windows resolves every folder of
// it again, links and all; ntdll's NtCreateFile opens a name relative to a
// handle. Its own file, so that the host tests reach the call.
#ifndef QUILLSET_OPEN_IN_FOLDER_H
#define QUILLSET_OPEN_IN_FOLDER_H

#include <windows.h>

// Opens name (a single name, no backslash) in folder, creating it if need
// be, to append only, shared for reading and writing but not deleting: as
// CreateFileW with OPEN_ALWAYS and FILE_FLAG_OPEN_REPARSE_POINT, so a link
// in its place is opened itself. NULL, with the Win32 error as the last
// error, when it cannot be opened.
HANDLE AppendInFolder(HANDLE folder, const WCHAR *name);

#endif
