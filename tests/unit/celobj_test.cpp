// The record line: every field from its place in the record, %g numbers.
#include <gtest/gtest.h>

#include <cstring>

#include "testfiles.h"

static std::string recordline(const std::string &rec)
{
    memcpy(celobj, rec.data(), RECLEN);
    return capturestdout(print_celobj);
}

TEST(RecordLine, EveryFieldIsPrintedFromItsOwnPlace)
{
    std::string rec = makerecord('2', 1);
    putint(rec, CO_FOG, -3);
    putint(rec, CO_IAT, 70000);
    memcpy(&rec[CO_TEX], "moon03a.tga", 11);
    putfloat(rec, CO_A, 0.5f);
    putfloat(rec, CO_OFF, -1.25f);
    putfloat(rec, CO_SIZ, 8);
    putfloat(rec, CO_LAT, 1e-7f);
    putfloat(rec, CO_LON, 123456789.0f);
    putfloat(rec, CO_ROT, 220);
    putfloat(rec, CO_COL, 0.7266667f);
    putfloat(rec, CO_COL + 4, 0.56916666f);
    putfloat(rec, CO_COL + 8, 0.22416666f);
    EXPECT_TRUE(recordline(rec) ==
          "CELOBJVAR2: ena=1 fog=-3 iat=70000 tex=moon03a.tga a=0.5 off=-1.25 siz=8 "
          "lat=1e-07 lon=1.23457e+08 rot=220 col=(0.726667 0.569167 0.224167)\n");
}

TEST(RecordLine, TheIndexPrintsAsItsSignedByteMinusTheCodeOf0)
{
    EXPECT_EQ(recordline(makerecord('\0', 0)).rfind("CELOBJVAR-48: ena=0 ", 0), 0);
    EXPECT_EQ(recordline(makerecord('A', 0)).rfind("CELOBJVAR17: ", 0), 0);
    EXPECT_EQ(recordline(makerecord('\xff', 0)).rfind("CELOBJVAR-49: ", 0), 0);
}

TEST(RecordLine, TheTextureStopsAtItsFirstNULAndNeverRunsPastItsField)
{
    std::string rec = makerecord('1', 1);
    memcpy(&rec[CO_TEX], "ab\0cd", 5);
    EXPECT_TRUE(recordline(rec).find(" tex=ab a=0 ") != std::string::npos);

    // No NUL at all: 256 bytes of texture, then the next field's text.
    for (int i = 0; i < TEXLEN; i++)
        rec[CO_TEX + i] = static_cast<char>('a' + i % 26);
    putfloat(rec, CO_A, 1);
    std::string line = recordline(rec);
    size_t tex = line.find(" tex=") + 5;
    EXPECT_EQ(line.substr(tex + TEXLEN, 5), " a=1 ");
}

TEST(RecordLine, FieldsAreReadAndWrittenLittleEndian)
{
    memset(celobj, 0, RECLEN);
    celobj_setint(CO_ENA, 0x01020304);
    EXPECT_EQ(celobj[CO_ENA], 4);
    EXPECT_EQ(celobj[CO_ENA + 3], 1);
    celobj_setfloat(CO_A, 1.0f);
    EXPECT_EQ(celobj[CO_A + 3], 0x3f);
    EXPECT_EQ(celobj[CO_A + 2], 0x80);
    EXPECT_EQ(celobj_float(CO_A), 1.0f);
    EXPECT_EQ(celobj_int(CO_ENA), 0x01020304);
}
