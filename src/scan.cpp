// The record scanner: finds every "CELOBJVAR" tag in a stream, in the
// order of its offset, and copies the 328 bytes from there into celobj.
#include <cstdlib>
#include <cstring>

#include "celobj.h"
#include "orbset.h"

enum {
    READLEN = 64 * 1024,             // bytes asked of the stream at a time
    KEEP = RECLEN - 1,               // tail kept for a record not yet whole
    WINDOW = READLEN + RECLEN,       // data held at once
    PADDED = WINDOW + RECLEN,        // plus zeros for a record cut off by EOF
};

// Fills the window up to WINDOW bytes or to the end of the stream.
// Returns false on a read error.
static bool fillwindow(FILE *f, unsigned char *win, size_t *have, bool *eof)
{
    while (*have < WINDOW && !*eof) {
        size_t want = WINDOW - *have;
        size_t got = fread(win + *have, 1, want, f);
        *have += got;
        if (got < want) {
            if (ferror(f))
                return false;
            *eof = true;
        }
    }
    // A record that begins near the end of the file is copied with zeros
    // in place of the bytes the file does not have.
    memset(win + *have, 0, PADDED - *have);
    return true;
}

// Hands every tag that begins before end to the action. Each tag found
// has all of its record in the window, or the file ends inside it.
static bool searchwindow(const unsigned char *win, size_t end, size_t have,
                         int64_t base, const char *worker, celobjaction action)
{
    const unsigned char *p = win;
    const unsigned char *stop = win + end;
    while (p < stop) {
        p = static_cast<const unsigned char *>(memchr(p, celobjtag[0], stop - p));
        if (!p)
            break;
        if (memcmp(p, celobjtag, TAGLEN) == 0) {
            size_t at = p - win;
            int64_t offset = base + static_cast<int64_t>(at);
            if (par.verbosity > 1)
                trace(worker, __LINE__, "Found %s at 0x%llx", celobjtag,
                      static_cast<unsigned long long>(offset));
            memcpy(celobj, p, RECLEN);
            if (!action(offset, at + RECLEN <= have))
                return false;
        }
        p++;
    }
    return true;
}

scanresult scancelobj(FILE *f, const char *worker, celobjaction action)
{
    unsigned char *win = static_cast<unsigned char *>(malloc(PADDED));
    if (!win)
        FATAL("Out of memory.");
    size_t have = 0;
    int64_t base = 0;  // file offset of win[0]
    bool eof = false;
    scanresult result = SCAN_END;
    for (;;) {
        if (!fillwindow(f, win, &have, &eof)) {
            result = SCAN_READERROR;
            break;
        }
        // Until the end of the file, a tag is searched only where its whole
        // record is already in the window; the rest waits for the next pass.
        size_t end = eof ? have : have - KEEP;
        if (!searchwindow(win, end, have, base, worker, action)) {
            result = SCAN_STOPPED;
            break;
        }
        if (eof)
            break;
        memmove(win, win + end, have - end);
        base += static_cast<int64_t>(end);
        have -= end;
    }
    free(win);
    return result;
}
