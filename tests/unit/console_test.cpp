// The Windows console window waits for Enter only when it was opened for
// the program alone and nobody else will read what it shows.
#include <gtest/gtest.h>

#include "orbset.h"

TEST(ConsoleWindow, TheWindowWaitsOnlyAfterADoubleClick)
{
    EXPECT_TRUE(pauseatexit(1, true, true));
    // Started from a console: the console's shell is attached as well.
    EXPECT_FALSE(pauseatexit(2, true, true));
    EXPECT_FALSE(pauseatexit(3, true, true));
    // Input or output redirected: a script or a pipe, not a person.
    EXPECT_FALSE(pauseatexit(1, false, true));
    EXPECT_FALSE(pauseatexit(1, true, false));
    // No console at all.
    EXPECT_FALSE(pauseatexit(0, false, false));
}

// Text; on a UTF-8 terminal; on one in another code page (null: as it is).
TEST(ConsoleText, EachControlCharacterShowsAsOneQuestionMark)
{
    struct { const char *text, *utf8, *codepage; } rows[] = {
        {"\x1b[2J\x07\x7f", "?[2J??", "?[2J??"},
        {"\xc2\x9b\xc2\x80 \x9b \xd0\x9b\xf0\x9f\x8c\x99", "?? ? \xd0\x9b\xf0\x9f\x8c\x99", nullptr},
        // Not well-formed: overlong, a surrogate, past U+10FFFF, cut short.
        {"\xe0\x80\x9b\xed\xa0\x80\xf4\x90\x80\x80\xe6\x9c", "\xe0??\xed\xa0?\xf4???\xe6?", nullptr},
        // Each edge of UTF-8: the first and last second byte a lead byte
        // takes, a last byte BF, the lead bytes past the last, bare bytes.
        {"\xc2\x80|\xc2\x9f|\xc2\xa0|\xdf\xbf", "?|?|\xc2\xa0|\xdf\xbf", nullptr},
        {"\xe0\x9f\x80|\xe0\xa0\x80|\xed\x9f\xbf|\xed\xa0\x80",
         "\xe0??|\xe0\xa0\x80|\xed\x9f\xbf|\xed\xa0?", nullptr},
        {"\xef\xbf\xbf|\xef\xbc\x90|\xf0\x8f\x80\x80|\xf0\x90\x80\x80",
         "\xef\xbf\xbf|\xef\xbc\x90|\xf0???|\xf0\x90\x80\x80", nullptr},
        {"\xf4\x8f\xbf\xbf|\xf4\x90\x80\x80|\xf5\x80\x80\x80|\x80|\x9f|\xbf",
         "\xf4\x8f\xbf\xbf|\xf4???|\xf5???|?|?|\xbf", nullptr},
        // Cut off by the end of the text: the NUL is no continuation byte.
        {"\xc2", "\xc2", nullptr},
        {"\xe0\xa0", "\xe0\xa0", nullptr},
        {"\xf4\x8f\xbf", "\xf4?\xbf", nullptr},
    };
    for (const auto &r : rows) {
        EXPECT_STREQ(r.utf8, maskcontrols(r.text, true));
        EXPECT_STREQ(r.codepage ? r.codepage : r.text, maskcontrols(r.text, false));
    }
}
