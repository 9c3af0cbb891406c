// Letter case as Windows ignores it, for the names of files and folders:
// a player who types игры for a folder named Игры expects it found, as
// Windows and Wine find it. Names are UTF-8, so each character is folded
// by Unicode's simple case folding; a byte that is no part of a UTF-8
// character stands for itself.
#include <cstdint>

#include "orbset.h"
#include "foldtable.h"

// Above every code point: a byte outside any character is LONEBYTE plus
// the byte, which folds to nothing else.
enum : uint32_t { LONEBYTE = 0x110000 };
enum : size_t { RUNS = sizeof foldruns / sizeof foldruns[0] };

static uint32_t fold(uint32_t c)
{
    // The first run that does not end below c.
    size_t lo = 0, hi = RUNS;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (foldruns[mid].last < c)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == RUNS)
        return c;
    const foldrun &run = foldruns[lo];
    if (c < run.first || (c - run.first) % run.step != 0)
        return c;
    return c + run.delta;
}

// The character at *p, which is moved past it.
static uint32_t nextchar(const unsigned char **p)
{
    const unsigned char *s = *p;
    size_t len = *s < 0x80 ? 1 : utf8len(s);
    if (len == 0) {
        *p = s + 1;
        return LONEBYTE + *s;
    }
    uint32_t c = len == 1 ? *s : *s & (0x7F >> len);
    for (size_t i = 1; i < len; i++)
        c = c << 6 | (s[i] & 0x3F);
    *p = s + len;
    return c;
}

bool foldequal(const char *a, const char *b)
{
    auto p = reinterpret_cast<const unsigned char *>(a);
    auto q = reinterpret_cast<const unsigned char *>(b);
    while (*p && *q)
        if (fold(nextchar(&p)) != fold(nextchar(&q)))
            return false;
    return !*p && !*q;
}
