// The file held for an update: written by us alone while held, read and
// written straight through, and only ever a regular file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "orbset.h"
#include "testfiles.h"

static std::string contents(const std::string &path)
{
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return "(cannot open)";
    for (int c; (c = getc(f)) != EOF;)
        out += static_cast<char>(c);
    fclose(f);
    return out;
}

TEST(HeldFile, ReadsAndWritesGoStraightToTheFile)
{
    tempfile file("0123456789");
    heldfile held;
    ASSERT_TRUE(holdfile(file.path.c_str(), &held));
    unsigned char buf[16] = {};
    EXPECT_TRUE(heldseek(&held, 6));
    EXPECT_EQ(heldread(&held, buf, sizeof buf), 4);  // fewer at the end
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), "6789");
    EXPECT_TRUE(heldseek(&held, 2));
    EXPECT_EQ(heldwrite(&held, reinterpret_cast<const unsigned char *>("ab"), 2), 2);
    EXPECT_TRUE(heldsync(&held));
    // Seen by another reader before the file is let go: nothing waits in a buffer.
    EXPECT_EQ(contents(file.path), "01ab456789");
    releasefile(&held);
}

TEST(HeldFile, OnlyARegularFileIsHeld)
{
    heldfile held;
    EXPECT_FALSE(holdfile(".", &held));
    EXPECT_FALSE(holdfile(temppath("absent").c_str(), &held));
#if !defined(_WIN32)
    // A FIFO is refused at once, not waited on for a writer.
    std::string fifo = temppath("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(holdfile(fifo.c_str(), &held));
    EXPECT_EQ(openread(fifo.c_str()), nullptr);
    remove(fifo.c_str());
#endif
}

#if defined(_WIN32)
TEST(HeldFile, NoOtherWriterWhileHeldButReadersMay)
{
    tempfile file("data");
    heldfile held;
    ASSERT_TRUE(holdfile(file.path.c_str(), &held));
    HANDLE writer = CreateFileA(file.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Nor is it renamed, or another file moved over its name, so the
    // file held is the file named until it is let go.
    tempfile copy("copy");
    EXPECT_FALSE(MoveFileA(file.path.c_str(), (file.path + ".bak").c_str()));
    EXPECT_FALSE(MoveFileExA(copy.path.c_str(), file.path.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(contents(file.path), "data");
    releasefile(&held);
}

TEST(HeldFile, AFileAnotherProgramWritesIsNotHeld)
{
    // Waited for a few seconds, then given up: the game may have it open.
    tempfile file("data");
    HANDLE writer = CreateFileA(file.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    heldfile held;
    EXPECT_FALSE(holdfile(file.path.c_str(), &held));
    CloseHandle(writer);
    EXPECT_TRUE(holdfile(file.path.c_str(), &held));
    releasefile(&held);
}
#endif
