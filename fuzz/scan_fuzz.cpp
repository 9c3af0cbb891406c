// Fuzz target: the record scanner and the record line over arbitrary
// bytes. Every place where the tag occurs must be handed to the action
// once, in order, with the input's 328 bytes from there (zeros past the
// end), from a file and from a stream whose reads signals interrupt.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "celobj.h"
#include "orbset.h"

struct handed {
    int64_t offset;
    bool whole;
    unsigned char record[RECLEN];
};
static std::vector<handed> got;

[[noreturn]] static void fail(const char *what, int line)
{
    fprintf(stderr, "scan_fuzz.cpp:%d: oracle failed: %s\n", line, what);
    abort();
}
#define CHECK(cond) ((cond) ? (void)0 : fail(#cond, __LINE__))

static bool collect(int64_t offset, bool whole)
{
    handed h;
    h.offset = offset;
    h.whole = whole;
    memcpy(h.record, celobj, RECLEN);
    got.push_back(h);
    print_celobj();
    return true;
}

// The plainest search there is, against what the scanner handed over.
static void check(const uint8_t *data, size_t size, scanresult result)
{
    CHECK(result == SCAN_END);
    size_t n = 0;
    for (size_t i = 0; i + TAGLEN <= size; i++) {
        if (data[i] != 'C' || memcmp(data + i, celobjtag, TAGLEN) != 0)
            continue;
        CHECK(n < got.size());
        const handed &h = got[n++];
        CHECK(h.offset == static_cast<int64_t>(i));
        size_t avail = size - i < RECLEN ? size - i : size_t(RECLEN);
        CHECK(h.whole == (avail == RECLEN));
        CHECK(memcmp(h.record, data + i, avail) == 0);
        for (size_t k = avail; k < RECLEN; k++)
            CHECK(h.record[k] == 0);
    }
    CHECK(n == got.size());
}

static void scanstream(FILE *f, const uint8_t *data, size_t size)
{
    got.clear();
    scanresult result = scancelobj(f, "fuzz", collect);
    fclose(f);
    check(data, size, result);
}

// A stream whose every third read is interrupted by a signal before it
// delivers anything. glibc asks such a stream, unbuffered, for one byte
// a read, so only the first bytes of an input are read from it.
struct interrupted {
    const uint8_t *data;
    size_t size, at;
    unsigned reads;
};
enum { INTERRUPTEDLEN = 8192 };

static ssize_t readinterrupted(void *cookie, char *buf, size_t n)
{
    interrupted *s = static_cast<interrupted *>(cookie);
    if (++s->reads % 3 == 0) {
        errno = EINTR;
        return -1;
    }
    size_t k = std::min(n, s->size - s->at);
    memcpy(buf, s->data + s->at, k);
    s->at += k;
    return static_cast<ssize_t>(k);
}

static std::string path;  // the input as a file, read as the workers read one

static void cleanup()
{
    remove(path.c_str());
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = getenv("TMPDIR");
    path = std::string(tmp ? tmp : "/tmp") + "/orbset-scanfuzz-" + std::to_string(getpid());
    atexit(cleanup);
    // The record lines and trace lines are made, and thrown away.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    par.verbosity = size % 3 == 0 ? 2 : 0;  // the Found lines, now and then

    FILE *f = fopen(path.c_str(), "wb");
    CHECK(f != nullptr);
    CHECK(fwrite(data, 1, size, f) == size);
    CHECK(fclose(f) == 0);
    f = fopen(path.c_str(), "rb");
    CHECK(f != nullptr);
    scanstream(f, data, size);

    interrupted s = {data, std::min(size, size_t(INTERRUPTEDLEN)), 0, 0};
    f = fopencookie(&s, "rb", cookie_io_functions_t{readinterrupted, nullptr, nullptr, nullptr});
    CHECK(f != nullptr);
    scanstream(f, data, s.size);
    return 0;
}
