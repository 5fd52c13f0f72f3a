#include "crt_stream.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace fake {

// The runtime's read of one fill, text mode translated. Returns false at the
// end of the file or of the text.
static bool Fill(CrtFile *f)
{
    size_t want = f->seeked ? f->buffering.fillAfterSeek : f->buffering.fill;
    f->seeked = false;
    f->lastFill = want;
    f->buffer.clear();
    f->next = 0;
    size_t left = f->filePointer < f->bytes.size() ? f->bytes.size() - f->filePointer : 0;
    size_t got = f->ctrlZ ? 0 : std::min(want, left);
    std::string raw = f->bytes.substr(f->filePointer < f->bytes.size() ? f->filePointer : 0, got);
    f->filePointer += got;
    if (!f->text || got == 0) {
        f->buffer = raw;
        return got > 0;
    }

    f->startedWithLf = raw[0] == '\n';
    for (size_t i = 0; i < got; i++) {
        char c = raw[i];
        if (c == 0x1A) {
            f->ctrlZ = true;
            break;
        }
        if (c != '\r') {
            f->buffer += c;
        } else if (i + 1 < got) {
            if (raw[i + 1] != '\n')
                f->buffer += c;
        } else if (f->filePointer >= f->bytes.size()) {
            f->buffer += c;
        } else if (f->bytes[f->filePointer] == '\n' && f->buffer.empty()) {
            // Nothing read yet: the pair is taken whole, to make progress.
            f->buffer += '\n';
            f->filePointer++;
        } else if (f->bytes[f->filePointer] != '\n') {
            f->buffer += c;
        }
        // Otherwise the CR is dropped: the LF begins the next fill.
    }
    return !f->buffer.empty();
}

int CrtGetc(CrtFile *f)
{
    if (f->next >= f->buffer.size() && !Fill(f)) {
        f->eof = true;
        return EOF;
    }
    return static_cast<unsigned char>(f->buffer[f->next++]);
}

// One character back into the buffer, in front of the next; EOF is refused.
int CrtUngetc(int c, CrtFile *f)
{
    if (c == EOF)
        return EOF;
    if (f->next > 0)
        f->buffer[--f->next] = static_cast<char>(c);
    else
        f->buffer.insert(0, 1, static_cast<char>(c));
    f->eof = false;
    return c;
}

size_t CrtRead(CrtFile *f, void *out, size_t size, size_t count)
{
    unsigned char *bytes = static_cast<unsigned char *>(out);
    size_t total = size * count, done = 0;
    for (int c; done < total && (c = CrtGetc(f)) != EOF; done++)
        bytes[done] = static_cast<unsigned char>(c);
    return size ? done / size : 0;
}

static size_t LineFeeds(const std::string &text, size_t from, size_t to)
{
    return std::count(text.begin() + from, text.begin() + to, '\n');
}

long long CrtTell(CrtFile *f)
{
    // Text mode's seek to learn the position ends a Ctrl-Z's hold, too.
    f->ctrlZ = false;
    long long pointer = f->filePointer;
    size_t left = f->buffer.size() - f->next;
    if (!f->text)
        return pointer - left;
    // Each LF in the buffer stands for a CR LF in the file.
    if (left == 0)
        return pointer;
    if (f->filePointer >= f->bytes.size())
        return pointer - left - LineFeeds(f->buffer, f->next, f->buffer.size());
    return pointer - f->lastFill - f->startedWithLf + f->next + LineFeeds(f->buffer, 0, f->next);
}

int CrtSeek(CrtFile *f, long long offset)
{
    if (offset < 0)
        return -1;
    f->filePointer = offset;
    f->buffer.clear();
    f->next = 0;
    f->seeked = true;
    f->ctrlZ = false;
    f->eof = false;
    return 0;
}

}
