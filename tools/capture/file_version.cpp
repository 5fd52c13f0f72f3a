#include <stdio.h>

#include "file_version.h"

#include <winver.h>

// VS_VERSIONINFO starts with three WORDs and L"VS_VERSION_INFO", padded to a
// DWORD boundary; its value, the fixed part, follows.
static const DWORD FixedInfoOffset = 40;

int ReadFileVersion(const WCHAR *path, char *out, DWORD outSize)
{
    lstrcpynA(out, "unknown", outSize);
    // Mapped as data, never run: no DllMain, no imports resolved, and no
    // version.dll that a planted copy beside us could stand in for.
    HMODULE module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    // XP knows only the first flag.
    if (module == NULL)
        module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL)
        return 0;
    int found = 0;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
    HGLOBAL loaded = resource != NULL ? LoadResource(module, resource) : NULL;
    const BYTE *data = loaded != NULL ? static_cast<const BYTE *>(LockResource(loaded)) : NULL;
    if (data != NULL && SizeofResource(module, resource) >= FixedInfoOffset + sizeof(VS_FIXEDFILEINFO)) {
        VS_FIXEDFILEINFO info;
        CopyMemory(&info, data + FixedInfoOffset, sizeof info);
        if (info.dwSignature == 0xFEEF04BD) {
            snprintf(out, outSize, "%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                     HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
            found = 1;
        }
    }
    FreeLibrary(module);
    return found;
}
