#include "wide_output.h"

int PrintWide(FILE *stream, const wchar_t *text)
{
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    int length = lstrlenW(text);
    DWORD mode, written;
    if (GetConsoleMode(handle, &mode)) {
        fflush(stream);
        return WriteConsoleW(handle, text, length, &written, NULL) != 0;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, NULL, 0, NULL, NULL);
    char *utf8 = static_cast<char *>(LocalAlloc(LMEM_FIXED, size + 1));
    if (utf8 == NULL)
        return 0;
    int ok = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, size + 1, NULL, NULL) == size &&
             fwrite(utf8, 1, size, stream) == static_cast<size_t>(size);
    LocalFree(utf8);
    return ok;
}
