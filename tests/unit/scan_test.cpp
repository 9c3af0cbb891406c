// The record scanner: every tag found once, at its offset, in order, with
// the 328 bytes from there (zeros past the end of the file).
#include <gtest/gtest.h>

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
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].offset, want[i]);
        EXPECT_EQ(got[i].record, expectedrecord(data, want[i]));
        EXPECT_EQ(got[i].whole, (want[i] + RECLEN <= static_cast<int64_t>(data.size())));
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

TEST(Scanner, AnEmptyFileAndAFileWithoutTagsYieldNothing)
{
    EXPECT_TRUE(scandata("").empty());
    EXPECT_TRUE(scandata(std::string(100000, 'C')).empty());
    EXPECT_TRUE(scandata("CELOBJVA").empty());
}

TEST(Scanner, TheTagIsMatchedExactlyUpperCase)
{
    std::string data(1000, '\0');
    data.replace(10, 9, "celobjvar");
    data.replace(100, 9, "CELOBJVAr");
    data.replace(200, 9, "CCELOBJVA");
    EXPECT_TRUE(scandata(data).empty());
    data.replace(300, 9, "CELOBJVAR");
    std::vector<found> got = scandata(data);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, 300);
}

TEST(Scanner, ATagAtTheVeryStartAndATagThatIsTheWholeFile)
{
    std::vector<found> got = scandata(withrecordat(5000, 0));
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, 0);
    EXPECT_TRUE(got[0].whole);
    EXPECT_EQ(got[0].record, makerecord('1', 1));

    got = scandata("CELOBJVAR");
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, 0);
    EXPECT_FALSE(got[0].whole);
    EXPECT_EQ(got[0].record, std::string("CELOBJVAR") + std::string(RECLEN - TAGLEN, '\0'));
}

// Where the scanner's reads end: the first three places, and the three
// before and the two after the place where the blocks change size, when
// they do so within the first 64.
static std::vector<size_t> blockboundaries()
{
    std::vector<int64_t> ends{scanblockend(0)};
    size_t change = SIZE_MAX;  // the end after which the blocks change size
    while (ends.size() < (change == SIZE_MAX ? 64 : change + 3)) {
        int64_t end = ends.back(), next = scanblockend(end);
        int64_t before = ends.size() > 1 ? ends[ends.size() - 2] : 0;
        if (change == SIZE_MAX && next - end != end - before)
            change = ends.size() - 1;
        ends.push_back(next);
    }
    std::vector<size_t> out;
    for (size_t i = 0; i < ends.size(); i++)
        if (i < 3 || (change != SIZE_MAX && i + 3 > change))
            out.push_back(static_cast<size_t>(ends[i]));
    return out;
}

TEST(Scanner, BlocksStartAtMultiplesOfTheirSizeAndOfAPage)
{
    std::vector<size_t> ends = blockboundaries();
    ASSERT_GE(ends.size(), 6u);
    for (size_t end : ends) {
        SCOPED_TRACE(testing::Message() << "end = " << end);
        int64_t len = scanblockend(static_cast<int64_t>(end)) - static_cast<int64_t>(end);
        EXPECT_EQ(static_cast<int64_t>(end) % len, 0);
        EXPECT_EQ(len % 4096, 0);
        EXPECT_GE(len, RECLEN);
    }
}

TEST(Scanner, TagsAcrossBlockBoundariesAtEverySplit)
{
    // One file per split, a record at each boundary, and one with each
    // record straddling the boundary at its far end.
    std::vector<size_t> ends = blockboundaries();
    for (size_t split = 0; split <= TAGLEN + 1; split++) {
        SCOPED_TRACE(testing::Message() << "split = " << split);
        std::string near(ends.back() + 1000, 'x'), far(near);
        for (size_t end : ends) {
            near.replace(end - split, RECLEN, makerecord('1', 1));
            far.replace(end - RECLEN + split, RECLEN, makerecord('2', 1));
        }
        ASSERT_EQ(naivetags(near).size(), ends.size());
        checkscan(near);
        checkscan(far);
    }
}

TEST(Scanner, ATagInTheFinalPartialBlockIsFound)
{
    std::vector<size_t> ends = blockboundaries();
    for (size_t size : {size_t(4096 + 100), ends[0] + 9, ends[1] + 4500, ends[ends.size() - 3] + 50,
                        ends.back() + 400})
        for (size_t back : {size_t(9), size_t(10), size_t(327), size_t(328), size_t(329)}) {
            SCOPED_TRACE(testing::Message() << "size = " << size);
            SCOPED_TRACE(testing::Message() << "back = " << back);
            checkscan(withrecordat(size, size - back));
        }
}

TEST(Scanner, ARecordCutOffByTheEndOfTheFileIsCopiedWithZeros)
{
    std::string data = withrecordat(1000, 900);
    std::vector<found> got = scandata(data);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, 900);
    EXPECT_FALSE(got[0].whole);
    std::string want = makerecord('1', 1).substr(0, 100) + std::string(RECLEN - 100, '\0');
    EXPECT_EQ(got[0].record, want);
}

TEST(Scanner, AdjacentAndOverlappingTagsAreEachFoundOnceInOrder)
{
    std::string data(4000, 'C');
    data.replace(100, RECLEN, makerecord('1', 1));
    data.replace(100 + RECLEN, RECLEN, makerecord('2', 0));
    data.replace(2000, 18, "CELOBJVARCELOBJVAR");
    std::vector<found> got = scandata(data);
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(got[0].offset, 100);
    EXPECT_EQ(got[1].offset, 100 + RECLEN);
    EXPECT_EQ(got[1].record, makerecord('2', 0));
    EXPECT_EQ(got[2].offset, 2000);
    EXPECT_EQ(got[3].offset, 2009);
    checkscan(data);
}

TEST(Scanner, RandomFilesWithManyTagsAndNearMissesAgreeWithThePlainSearch)
{
    std::mt19937 rng(20101);
    const char *pieces[] = {"CELOBJVAR", "CELOBJVA", "C", "CELOBJVARCELOBJVAR", "ELOBJVAR"};
    for (size_t size : {size_t(0), size_t(1), size_t(8), size_t(9), size_t(4096), size_t(65537),
                        size_t(300000), size_t(2 << 20) + 4097, blockboundaries().back() + 333}) {
        std::string data(size, '\0');
        for (char &c : data)
            c = static_cast<char>(rng() % 4 == 0 ? 'C' : rng() & 0xff);
        for (int i = 0; size && i < 200; i++) {
            const char *piece = pieces[rng() % 5];
            size_t at = rng() % size;
            data.replace(at, std::min(strlen(piece), size - at), piece, std::min(strlen(piece), size - at));
        }
        SCOPED_TRACE(testing::Message() << "size = " << size);
        checkscan(data);
    }
}

TEST(Scanner, TheActionCanStopTheScan)
{
    std::string data(10000, '\0');
    data.replace(10, 9, "CELOBJVAR");
    data.replace(5000, 9, "CELOBJVAR");
    tempfile file(data);
    scanresult result;
    std::vector<found> got = scanfile(file.path, &result, 1);
    EXPECT_EQ(result, SCAN_STOPPED);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, 10);
}

TEST(Scanner, TheActionCanStopTheScanFarIntoALargeFile)
{
    std::string data(3 << 20, '\0');
    data.replace((1 << 20) - 1, 9, "CELOBJVAR");
    data.replace((2 << 20) + 10, 9, "CELOBJVAR");
    tempfile file(data);
    scanresult result;
    std::vector<found> got = scanfile(file.path, &result, 1);
    EXPECT_EQ(result, SCAN_STOPPED);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, (1 << 20) - 1);
    EXPECT_TRUE(got[0].whole);
}

TEST(Scanner, TheFoundLineNamesTheWorkerAndTheOffsetInLowerCaseHex)
{
    std::string data(70000, '\0');
    data.replace(0xbeef, 9, "CELOBJVAR");
    tempfile file(data);
    par.verbosity = 2;
    std::string out = capturestdout([&] { scanfile(file.path); });
    par.verbosity = 0;
    EXPECT_EQ(out.find("unit("), 0);
    EXPECT_EQ(out.substr(out.find("): ")), "): Found CELOBJVAR at 0xbeef\n");
}

#if !defined(_WIN32)
TEST(Scanner, AReadErrorEndsTheScanAndIsToldApartFromTheEndOfTheFile)
{
    // Linux opens a directory as a stream; every read of it fails.
    FILE *f = fopen(".", "rb");
    ASSERT_TRUE(f);
    EXPECT_EQ(scancelobj(f, "unit", [](int64_t, bool) { return true; }), SCAN_READERROR);
    fclose(f);
}
#endif

static bool seekfar(FILE *f, int64_t offset)
{
#if defined(_WIN32)
    return _fseeki64(f, offset, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

TEST(Scanner, ARecordBeyond4GiBIsFoundAtItsTrueOffset)
{
    const int64_t offset = (int64_t(1) << 32) + 0x1234;
    std::string path = temppath("sparse");
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::string rec = makerecord('1', 1);
    bool written = seekfar(f, offset) && fwrite(rec.data(), 1, RECLEN, f) == RECLEN;
    EXPECT_EQ(fclose(f), 0);
    ASSERT_TRUE(written);
    std::vector<found> got = scanfile(path);
    remove(path.c_str());
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].offset, offset);
    EXPECT_TRUE(got[0].whole);
    EXPECT_EQ(got[0].record, rec);
}
