// The record scanner: finds every "CELOBJVAR" tag in a stream, in the
// order of its offset, and copies the 328 bytes from there into celobj.
//
// The stream is read in large blocks into one window that keeps the last
// record's worth of bytes of the block before just below the next, so a
// tag near the end of a block is compared and copied across into the
// next. Memory stays bounded whatever the size of the file; the file is
// never mapped, so one that shrinks during the scan ends it early instead
// of faulting.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define SCAN_AVX2 1
#include <immintrin.h>
#endif

#include "celobj.h"
#include "orbset.h"

// The fuzzing build makes them small, so that short inputs cross many
// block boundaries and the change of block size.
#ifndef ORBSET_SCAN_READLEN
#define ORBSET_SCAN_READLEN (256 * 1024)
#endif
#ifndef ORBSET_SCAN_LATERLEN
#define ORBSET_SCAN_LATERLEN (1024 * 1024)
#endif
#ifndef ORBSET_SCAN_LATERAT
#define ORBSET_SCAN_LATERAT (8 * 1024 * 1024)
#endif

// Blocks of READLEN bytes up to LATERAT bytes into a file, of LATERLEN
// from there on. Timed on a folder of mission files of 4 MiB and on files
// of 512 MiB: the first touch of a larger window costs a file of a few
// MiB more than its fewer reads save, the smaller blocks slow down the
// large files by a fifth.
enum {
    READLEN = ORBSET_SCAN_READLEN,
    LATERLEN = ORBSET_SCAN_LATERLEN,
    LATERAT = ORBSET_SCAN_LATERAT,
    MAXLEN = READLEN > LATERLEN ? READLEN : LATERLEN,
    KEEP = RECLEN - 1,  // tail kept for a record not yet whole
    PAGE = 4096,
    // Room below the block for the tail of the block before, so that a
    // record that starts there is compared and copied across.
    LEAD = (KEEP + PAGE - 1) / PAGE * PAGE,
};
static_assert(READLEN >= KEEP && LATERLEN >= KEEP, "the tail kept comes from one block");
// Each block starts at a multiple of its own size.
static_assert(LATERAT % READLEN == 0 && LATERAT % LATERLEN == 0, "blocks are aligned");

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

int64_t scanblockend(int64_t offset)
{
    int64_t len = offset < LATERAT ? READLEN : LATERLEN;
    return (offset / len + 1) * len;
}

// Reads the next block: n bytes, fewer only at the end of the stream.
// A read cut short by a signal is no error; the rest is asked for again.
// Returns false on a read error.
static bool readblock(FILE *f, unsigned char *block, size_t n, size_t *got, bool *eof)
{
    *got = 0;
    while (*got < n) {
        errno = 0;
        *got += fread(block + *got, 1, n - *got, f);
        if (*got == n)
            break;
        if (!ferror(f)) {
            *eof = true;
            break;
        }
        if (errno != EINTR)
            return false;
        clearerr(f);
    }
    return true;
}

// The window: room for the largest block, at the start of a page, and
// below it for the tail of the block before. Returns the block's start;
// *win is what to free.
static unsigned char *allocwindow(unsigned char **win)
{
    *win = static_cast<unsigned char *>(malloc(LEAD + MAXLEN + PAGE - 1));
    if (!*win)
        FATAL("Out of memory.");
    unsigned char *block = *win + LEAD;
    return block + (PAGE - reinterpret_cast<uintptr_t>(block) % PAGE) % PAGE;
}

scanresult scancelobj(FILE *f, const char *worker, celobjaction action)
{
#if SCAN_AVX2
    __builtin_cpu_init();
    useavx2 = __builtin_cpu_supports("avx2");
#endif
    // Unbuffered, the stream reads each block whole, straight into the
    // window, at a file offset that is a multiple of its size. Nothing has
    // read the stream yet, so it may still be set; should it fail, the
    // stream's own buffer costs time, nothing else.
    setvbuf(f, nullptr, _IONBF, 0);
    unsigned char *win;
    unsigned char *block = allocwindow(&win);
    size_t kept = 0;   // bytes of the block before, lying just below block
    int64_t base = 0;  // file offset of block[0]
    bool eof = false;
    scanresult result = SCAN_END;
    for (;;) {
        size_t len = static_cast<size_t>(scanblockend(base) - base);
        size_t got;
        if (!readblock(f, block, len, &got, &eof)) {
            result = SCAN_READERROR;
            break;
        }
        const unsigned char *limit = block + got;
        // Until the end of the file, a tag is searched only where its whole
        // record is already in; the rest waits for the next block.
        const unsigned char *end = eof ? limit : limit - KEEP;
        for (const unsigned char *p = block - kept; (p = findtag(p, end, limit)); p++) {
            if (!handover(p, static_cast<size_t>(limit - p), base + (p - block), worker, action)) {
                result = SCAN_STOPPED;
                break;
            }
        }
        if (result == SCAN_STOPPED || eof)
            break;
        memcpy(block - KEEP, block + len - KEEP, KEEP);
        kept = KEEP;
        base += static_cast<int64_t>(len);
    }
    free(win);
    return result;
}
