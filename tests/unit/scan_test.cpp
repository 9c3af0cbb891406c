// The record scanner: every tag found once, at its offset, in order, with
// the 328 bytes from there (zeros past the end of the file).
#include <doctest/doctest.h>

#include <cstring>
#include <random>

#include "orbset.h"
#include "testfiles.h"

// Every offset at which the tag occurs, by the plainest search there is.
static std::vector<int64_t> naivetags(const std::string &data)
{
    std::vector<int64_t> out;
    for (size_t i = 0; i + TAGLEN <= data.size(); i++)
        if (data[i] == 'C' && memcmp(data.data() + i, celobjtag, TAGLEN) == 0)
            out.push_back(static_cast<int64_t>(i));
    return out;
}

static std::string expectedrecord(const std::string &data, int64_t offset)
{
    std::string rec = data.substr(static_cast<size_t>(offset), RECLEN);
    rec.resize(RECLEN, '\0');
    return rec;
}

// Checks the scan of data against the plain search: same offsets, same
// order, each once, each record the file's bytes from there.
static void checkscan(const std::string &data)
{
    std::vector<found> got = scandata(data);
    std::vector<int64_t> want = naivetags(data);
    REQUIRE(got.size() == want.size());
    for (size_t i = 0; i < got.size(); i++) {
        CHECK(got[i].offset == want[i]);
        CHECK(got[i].record == expectedrecord(data, want[i]));
        CHECK(got[i].whole == (want[i] + RECLEN <= static_cast<int64_t>(data.size())));
    }
}

static std::string withrecordat(size_t size, size_t at, char fill = 'x')
{
    std::string data(size, fill);
    std::string rec = makerecord('1', 1);
    rec.resize(std::min<size_t>(RECLEN, size - at));
    data.replace(at, rec.size(), rec);
    return data;
}

TEST_CASE("an empty file and a file without tags yield nothing")
{
    CHECK(scandata("").empty());
    CHECK(scandata(std::string(100000, 'C')).empty());
    CHECK(scandata("CELOBJVA").empty());
}

TEST_CASE("the tag is matched exactly, upper case")
{
    std::string data(1000, '\0');
    data.replace(10, 9, "celobjvar");
    data.replace(100, 9, "CELOBJVAr");
    data.replace(200, 9, "CCELOBJVA");
    CHECK(scandata(data).empty());
    data.replace(300, 9, "CELOBJVAR");
    std::vector<found> got = scandata(data);
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == 300);
}

TEST_CASE("a tag at the very start and a tag that is the whole file")
{
    std::vector<found> got = scandata(withrecordat(5000, 0));
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == 0);
    CHECK(got[0].whole);
    CHECK(got[0].record == makerecord('1', 1));

    got = scandata("CELOBJVAR");
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == 0);
    CHECK_FALSE(got[0].whole);
    CHECK(got[0].record == std::string("CELOBJVAR") + std::string(RECLEN - TAGLEN, '\0'));
}

TEST_CASE("tags across block boundaries, at every split")
{
    // 4096-byte blocks, the larger reads, a few odd places between, and
    // places many reads into the file.
    const size_t boundaries[] = {4096,   8192,   65536,   65537,  65538,
                                 131072, 131074, 200000, 1 << 20, 2 << 20};
    for (size_t boundary : boundaries)
        for (size_t split = 0; split <= TAGLEN + 1; split++) {
            CAPTURE(boundary);
            CAPTURE(split);
            checkscan(withrecordat(boundary + 1000, boundary - split));
            // The record itself straddling the boundary at its far end.
            checkscan(withrecordat(boundary + 1000, boundary - RECLEN + split));
        }
}

TEST_CASE("a tag in the final partial block is found")
{
    for (size_t size : {4096u + 100, 65536u + 9, 70000u, 3 * 65536u + 400, (1u << 20) + 50,
                        3u << 20})
        for (size_t back : {size_t(9), size_t(10), size_t(327), size_t(328), size_t(329)}) {
            CAPTURE(size);
            CAPTURE(back);
            checkscan(withrecordat(size, size - back));
        }
}

TEST_CASE("a record cut off by the end of the file is copied with zeros")
{
    std::string data = withrecordat(1000, 900);
    std::vector<found> got = scandata(data);
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == 900);
    CHECK_FALSE(got[0].whole);
    std::string want = makerecord('1', 1).substr(0, 100) + std::string(RECLEN - 100, '\0');
    CHECK(got[0].record == want);
}

TEST_CASE("adjacent and overlapping tags are each found once, in order")
{
    std::string data(4000, 'C');
    data.replace(100, RECLEN, makerecord('1', 1));
    data.replace(100 + RECLEN, RECLEN, makerecord('2', 0));
    data.replace(2000, 18, "CELOBJVARCELOBJVAR");
    std::vector<found> got = scandata(data);
    REQUIRE(got.size() == 4);
    CHECK(got[0].offset == 100);
    CHECK(got[1].offset == 100 + RECLEN);
    CHECK(got[1].record == makerecord('2', 0));
    CHECK(got[2].offset == 2000);
    CHECK(got[3].offset == 2009);
    checkscan(data);
}

TEST_CASE("random files with many tags and near misses agree with the plain search")
{
    std::mt19937 rng(20101);
    const char *pieces[] = {"CELOBJVAR", "CELOBJVA", "C", "CELOBJVARCELOBJVAR", "ELOBJVAR"};
    for (size_t size : {0u, 1u, 8u, 9u, 4096u, 65536u, 65537u, 65863u, 300000u, (1u << 20) + 333,
                        (2u << 20) + 4097}) {
        std::string data(size, '\0');
        for (char &c : data)
            c = static_cast<char>(rng() % 4 == 0 ? 'C' : rng() & 0xff);
        for (int i = 0; size && i < 200; i++) {
            const char *piece = pieces[rng() % 5];
            size_t at = rng() % size;
            data.replace(at, std::min(strlen(piece), size - at), piece, std::min(strlen(piece), size - at));
        }
        CAPTURE(size);
        checkscan(data);
    }
}

TEST_CASE("the action can stop the scan")
{
    std::string data(10000, '\0');
    data.replace(10, 9, "CELOBJVAR");
    data.replace(5000, 9, "CELOBJVAR");
    tempfile file(data);
    scanresult result;
    std::vector<found> got = scanfile(file.path, &result, 1);
    CHECK(result == SCAN_STOPPED);
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == 10);
}

TEST_CASE("the action can stop the scan far into a large file")
{
    std::string data(3 << 20, '\0');
    data.replace((1 << 20) - 1, 9, "CELOBJVAR");
    data.replace((2 << 20) + 10, 9, "CELOBJVAR");
    tempfile file(data);
    scanresult result;
    std::vector<found> got = scanfile(file.path, &result, 1);
    CHECK(result == SCAN_STOPPED);
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == (1 << 20) - 1);
    CHECK(got[0].whole);
}

TEST_CASE("the Found line names the worker and the offset in lower-case hex")
{
    std::string data(70000, '\0');
    data.replace(0xbeef, 9, "CELOBJVAR");
    tempfile file(data);
    par.verbosity = 2;
    std::string out = capturestdout([&] { scanfile(file.path); });
    par.verbosity = 0;
    CHECK(out.find("unit(") == 0);
    CHECK(out.substr(out.find("): ")) == "): Found CELOBJVAR at 0xbeef\n");
}

#if !defined(_WIN32)
TEST_CASE("a read error ends the scan and is told apart from the end of the file")
{
    // Linux opens a directory as a stream; every read of it fails.
    FILE *f = fopen(".", "rb");
    REQUIRE(f);
    CHECK(scancelobj(f, "unit", [](int64_t, bool) { return true; }) == SCAN_READERROR);
    fclose(f);
}
#endif

TEST_CASE("a record beyond 4 GiB is found at its true offset")
{
    const int64_t offset = (int64_t(1) << 32) + 0x1234;
    std::string path = temppath("sparse");
    FILE *f = fopen(path.c_str(), "wb");
    REQUIRE(f);
    std::string rec = makerecord('1', 1);
    bool written = seekto(f, offset) && fwrite(rec.data(), 1, RECLEN, f) == RECLEN;
    CHECK(fclose(f) == 0);
    REQUIRE(written);
    std::vector<found> got = scanfile(path);
    remove(path.c_str());
    REQUIRE(got.size() == 1);
    CHECK(got[0].offset == offset);
    CHECK(got[0].whole);
    CHECK(got[0].record == rec);
}
