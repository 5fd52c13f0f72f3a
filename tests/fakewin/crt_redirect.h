// Forced into the job's host build: its settings stream goes to the
// stand-in, which reads like the Windows runtime's text mode.
#ifndef FAKEWIN_CRT_REDIRECT_H
#define FAKEWIN_CRT_REDIRECT_H

#include <stdio.h>

FILE *FakeFopen(const char *name, const char *mode);
FILE *FakeWfopen(const wchar_t *name, const wchar_t *mode);
int FakeFgetc(FILE *file);
int FakeUngetc(int c, FILE *file);
size_t FakeFread(void *buffer, size_t size, size_t count, FILE *file);
int FakeFeof(FILE *file);
int FakeFerror(FILE *file);
int FakeFclose(FILE *file);
long long FakeFtelli64(FILE *file);
int FakeFseeki64(FILE *file, long long offset, int origin);

#define fopen FakeFopen
#define _wfopen FakeWfopen
#define fgetc FakeFgetc
#define ungetc FakeUngetc
#define fread FakeFread
#define feof FakeFeof
#define ferror FakeFerror
#define fclose FakeFclose
#define _ftelli64 FakeFtelli64
#define _fseeki64 FakeFseeki64

#endif
