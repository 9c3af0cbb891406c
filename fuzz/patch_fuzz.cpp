// Fuzz target: the patch command on one mission file of arbitrary bytes,
// every prompt answered yes. The file must stay as it was unless its
// mission has a new moon and its first enabled record lies wholly inside
// it; then exactly that record's 328 bytes change: texture, size,
// rotation and colour from the mission's row, alpha 1 and fog 1, the rest
// as it was. The rows themselves are checked bit for bit by the
// end-to-end tests; this checks where and when they are written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "celobj.h"
#include "missions.h"
#include "orbset.h"

static std::string dir;

[[noreturn]] static void fail(const char *what, int line)
{
    fprintf(stderr, "patch_fuzz.cpp:%d: oracle failed: %s\n", line, what);
    abort();
}
#define CHECK(cond) ((cond) ? (void)0 : fail(#cond, __LINE__))

static uint32_t le32(const std::string &s, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; i++)
        if (at + i < s.size())
            v |= static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
    return v;
}

static void put32(std::string &s, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; i++)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

static void putfloat(std::string &s, size_t at, float f)
{
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    put32(s, at, bits);
}

// What the file must hold after the patch of mission number.
static std::string expected(const std::string &data, int number)
{
    if (number < 1 || number > MISSIONS || !celobj_miss[number - 1].tex)
        return data;
    // The first enabled record; ena bytes past the end count as zeros.
    size_t at = data.find(celobjtag, 0, TAGLEN);
    while (at != std::string::npos && le32(data, at + CO_ENA) != 1)
        at = data.find(celobjtag, at + 1, TAGLEN);
    if (at == std::string::npos || at + RECLEN > data.size())
        return data;
    const celobjrow &row = celobj_miss[number - 1];
    std::string out = data;
    out.replace(at + CO_TEX, TEXLEN, std::string(TEXLEN, '\0'));
    out.replace(at + CO_TEX, strlen(row.tex), row.tex);
    put32(out, at + CO_FOG, 1);
    put32(out, at + CO_A, 0x3f800000);
    putfloat(out, at + CO_SIZ, row.siz);
    putfloat(out, at + CO_ROT, row.rot);
    for (int i = 0; i < 3; i++)
        putfloat(out, at + CO_COL + 4 * i, row.col[i]);
    return out;
}

static std::string readall(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    CHECK(f != nullptr);
    std::string out;
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, got);
    CHECK(!ferror(f));
    fclose(f);
    return out;
}

static void cleanup()
{
    remove((dir + "/answers").c_str());
    rmdir(dir.c_str());
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp ? tmp : "/tmp") + "/orbset-fuzz-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        abort();
    dir = tmpl;
    atexit(cleanup);
    // Every prompt is answered yes; the answers are read again each run.
    FILE *answers = fopen((dir + "/answers").c_str(), "w");
    if (!answers || fputs("y\n", answers) < 0 || fclose(answers) != 0)
        abort();
    if (!freopen((dir + "/answers").c_str(), "r", stdin) || !freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The mission number follows from the size: 0 to 17, so the missions
    // without a new moon and the numbers outside the table come up too.
    int number = static_cast<int>(size % 18);
    par.verbosity = size % 5 == 0 ? 3 : 0;
    std::string path = dir + "/miss" + std::to_string(number) + ".mis";
    std::string before(reinterpret_cast<const char *>(data), size);
    FILE *f = fopen(path.c_str(), "wb");
    CHECK(f != nullptr);
    CHECK(fwrite(data, 1, size, f) == size);
    CHECK(fclose(f) == 0);

    rewind(stdin);
    mispatch(path.c_str(), path.c_str());
    CHECK(readall(path) == expected(before, number));
    remove(path.c_str());
    return 0;
}
