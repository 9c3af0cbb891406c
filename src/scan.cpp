// The record scanner: finds every "CELOBJVAR" tag in a stream, in the
// order of its offset, and copies the 328 bytes from there into celobj.
//
// The stream is read in large blocks into one window that keeps the last
// record's worth of bytes of the block before, so a tag near the end of a
// block is compared and copied across into the next. Memory stays bounded
// whatever the size of the file.
#include <cstdlib>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define SCAN_AVX2 1
#include <immintrin.h>
#endif

#include "celobj.h"
#include "orbset.h"

// The fuzzing build makes it small, so that short inputs cross many block
// boundaries.
#ifndef ORBSET_SCAN_READLEN
#define ORBSET_SCAN_READLEN (128 * 1024)
#endif

enum {
    READLEN = ORBSET_SCAN_READLEN,   // bytes asked of the stream at a time
    KEEP = RECLEN - 1,               // tail kept for a record not yet whole
    WINDOW = KEEP + READLEN,         // data held at once; the tail kept
                                     // and one block make it up
};

#if SCAN_AVX2
// Two of the tag's letters that are rare in mission files, and where they
// stand in it. A position holds a tag only if both are in place, which
// rules out almost every position with two vector compares per 32.
enum { PAIR1 = 1, PAIR2 = 3 };  // 'E', 'O'

// Returns the first tag from p on, below last, or the position where
// fewer than 64 positions remain. Bytes up to last + TAGLEN - 1 are
// readable.
__attribute__((target("avx2"))) static const unsigned char *
skippairs(const unsigned char *p, const unsigned char *last)
{
    const __m256i a = _mm256_set1_epi8(celobjtag[PAIR1]);
    const __m256i b = _mm256_set1_epi8(celobjtag[PAIR2]);
    for (; last - p >= 64; p += 64) {
        const __m256i *u = reinterpret_cast<const __m256i *>(p + PAIR1);
        const __m256i *v = reinterpret_cast<const __m256i *>(p + PAIR2);
        __m256i lo = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(u), a),
                                      _mm256_cmpeq_epi8(_mm256_loadu_si256(v), b));
        __m256i hi = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(u + 1), a),
                                      _mm256_cmpeq_epi8(_mm256_loadu_si256(v + 1), b));
        __m256i any = _mm256_or_si256(lo, hi);
        if (_mm256_testz_si256(any, any))
            continue;
        // Near misses are confirmed here, without leaving the loop.
        uint64_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(lo)) |
                        static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(hi))) << 32;
        for (; mask; mask &= mask - 1) {
            const unsigned char *q = p + __builtin_ctzll(mask);
            if (memcmp(q, celobjtag, TAGLEN) == 0)
                return q;
        }
    }
    return p;
}

static bool useavx2;  // set at the start of each scan
#endif

// Returns the first tag that begins in [p, end), or null. The bytes up to
// limit (end or beyond) are readable; a tag must lie wholly below it.
static const unsigned char *findtag(const unsigned char *p, const unsigned char *end,
                                    const unsigned char *limit)
{
    if (limit - p < TAGLEN)
        return nullptr;
    const unsigned char *last = limit - (TAGLEN - 1);  // past the last start
    if (end < last)
        last = end;
    while (p < last) {
#if SCAN_AVX2
        // It never skips a tag; what it leaves is searched below.
        if (useavx2)
            p = skippairs(p, last);
#endif
        p = static_cast<const unsigned char *>(memchr(p, celobjtag[0], last - p));
        if (!p)
            return nullptr;
        if (memcmp(p, celobjtag, TAGLEN) == 0)
            return p;
        p++;
    }
    return nullptr;
}

// Hands the tag at p to the action. avail bytes from p on belong to the
// file; a record cut off by its end is completed with zeros.
static bool handover(const unsigned char *p, size_t avail, int64_t offset,
                     const char *worker, celobjaction action)
{
    if (par.verbosity > 1)
        trace(worker, __LINE__, "Found %s at 0x%llx", celobjtag,
              static_cast<unsigned long long>(offset));
    size_t n = avail < RECLEN ? avail : size_t(RECLEN);
    memcpy(celobj, p, n);
    memset(celobj + n, 0, RECLEN - n);
    return action(offset, n == RECLEN);
}

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
    return true;
}

scanresult scancelobj(FILE *f, const char *worker, celobjaction action)
{
#if SCAN_AVX2
    __builtin_cpu_init();
    useavx2 = __builtin_cpu_supports("avx2");
#endif
    unsigned char *win = static_cast<unsigned char *>(malloc(WINDOW));
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
        for (const unsigned char *p = win; (p = findtag(p, win + end, win + have)); p++) {
            size_t at = p - win;
            if (!handover(p, have - at, base + static_cast<int64_t>(at), worker, action)) {
                result = SCAN_STOPPED;
                break;
            }
        }
        if (result == SCAN_STOPPED || eof)
            break;
        memmove(win, win + end, have - end);
        base += static_cast<int64_t>(end);
        have -= end;
    }
    free(win);
    return result;
}
