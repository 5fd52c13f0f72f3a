// msvcrt's FILE for reading a disk file, as a reader can see it: bytes come
// through a buffer that each fill takes from the file, and text mode turns
// CR LF into LF fill by fill. A CR that ends a fill is looked past: before an
// LF it is dropped and the file pointer left on the LF, which the next fill
// starts with. _ftelli64 then works back from the file pointer, so once such
// a fill is used up it reports one byte more than the reader has taken.
// Wine's msvcrt and Microsoft's agree on all of this; Microsoft's fills only
// 512 bytes the first time after a seek.
// Self-contained, so that any host test can read a file through it.
#ifndef FAKEWIN_CRT_STREAM_H
#define FAKEWIN_CRT_STREAM_H

#include <stddef.h>

#include <string>

namespace fake {

struct CrtBuffering {
    size_t fill = 4096;            // every fill
    size_t fillAfterSeek = 512;    // the first fill after a seek; Wine: 4096
};

struct CrtFile {
    std::string bytes;   // the file
    bool text = true;    // "r"; "rb" hands out the bytes as they are
    CrtBuffering buffering;

    size_t filePointer = 0;   // the operating system's position
    std::string buffer;       // what the last fill made of its bytes
    size_t next = 0;          // the next character of buffer to hand out
    size_t lastFill = 0;      // bytes the last fill asked the file for
    bool startedWithLf = false;   // its first byte was an LF, its CR in the fill before
    bool seeked = false;
    bool ctrlZ = false;       // text mode met Ctrl-Z, the end of the text
    bool eof = false, error = false;
};

// fgetc, ungetc, fread, _ftelli64 and _fseeki64 with SEEK_SET.
int CrtGetc(CrtFile *file);
int CrtUngetc(int c, CrtFile *file);
size_t CrtRead(CrtFile *file, void *out, size_t size, size_t count);
long long CrtTell(CrtFile *file);
int CrtSeek(CrtFile *file, long long offset);

}

#endif
