// The option parser follows GNU getopt's rules: permutation, "--",
// POSIXLY_CORRECT, clusters and values, and the offending character.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "getoption.h"

#if defined(__GLIBC__)
#include <unistd.h>
#endif

// What a parse yields: "f=value", "v=value" or "?c" per option (up to the
// first error), then "word=..." or "no word".
typedef std::vector<std::string> outcome;

static std::vector<char *> argvof(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    static std::string prog = "orbset";
    argv.push_back(&prog[0]);
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

static outcome ours(const std::vector<std::string> &args)
{
    std::vector<char *> argv = argvof(args);
    int argc = static_cast<int>(argv.size()) - 1;
    optionparser p;
    startoptions(&p);
    outcome out;
    for (int c; (c = getoption(&p, argc, argv.data(), "f:v:")) != -1;) {
        if (c == '?') {
            out.push_back(std::string("?") + static_cast<char>(p.bad));
            return out;
        }
        out.push_back(std::string(1, static_cast<char>(c)) + "=" + p.value);
    }
    const char *word = firstword(&p, argc, argv.data());
    out.push_back(word ? std::string("word=") + word : "no word");
    return out;
}

static void setposix(bool on)
{
#if defined(_WIN32)
    _putenv(on ? "POSIXLY_CORRECT=1" : "POSIXLY_CORRECT=");
#else
    if (on)
        setenv("POSIXLY_CORRECT", "1", 1);
    else
        unsetenv("POSIXLY_CORRECT");
#endif
}

TEST(Options, OptionsBeforeAndAfterTheCommandWord)
{
    setposix(false);
    EXPECT_EQ(ours({"misinfo", "-v", "2"}), (outcome{"v=2", "word=misinfo"}));
    EXPECT_EQ(ours({"-v", "2", "misinfo"}), (outcome{"v=2", "word=misinfo"}));
    EXPECT_EQ(ours({"a", "-fx", "b", "-v3"}), (outcome{"f=x", "v=3", "word=a"}));
    EXPECT_EQ(ours({"-f", "-v", "-v", "--"}), (outcome{"f=-v", "v=--", "no word"}));
    EXPECT_EQ(ours({}), (outcome{"no word"}));
}

TEST(Options, DoubleDashLoneDashAndBadOptions)
{
    setposix(false);
    EXPECT_EQ(ours({"--", "-v"}), (outcome{"word=-v"}));
    EXPECT_EQ(ours({"x", "--", "-v"}), (outcome{"word=x"}));
    EXPECT_EQ(ours({"-"}), (outcome{"word=-"}));
    EXPECT_EQ(ours({"-v"}), (outcome{"?v"}));
    EXPECT_EQ(ours({"-x"}), (outcome{"?x"}));
    EXPECT_EQ(ours({"-:"}), (outcome{"?:"}));
    EXPECT_EQ(ours({"--help"}), (outcome{"?-"}));
    EXPECT_EQ(ours({"-V", "2"}), (outcome{"?V"}));
    EXPECT_EQ(ours({"-v1", "-f"}), (outcome{"v=1", "?f"}));
}

TEST(Options, PosixlyCorrectStopsAtTheFirstNonOption)
{
    setposix(true);
    EXPECT_EQ(ours({"misinfo", "-x"}), (outcome{"word=misinfo"}));
    EXPECT_EQ(ours({"-v", "3", "misinfo", "-v", "1"}), (outcome{"v=3", "word=misinfo"}));
    EXPECT_EQ(ours({"-x", "misinfo"}), (outcome{"?x"}));
    setposix(false);
}

#if defined(__GLIBC__)
static outcome glibcs(const std::vector<std::string> &args)
{
    std::vector<std::string> copy = args;  // glibc reorders argv
    std::vector<char *> argv = argvof(copy);
    int argc = static_cast<int>(argv.size()) - 1;
    optind = 0;  // full reinitialisation, POSIXLY_CORRECT included
    opterr = 0;
    outcome out;
    for (int c; (c = getopt(argc, argv.data(), "f:v:")) != -1;) {
        if (c == '?') {
            out.push_back(std::string("?") + static_cast<char>(optopt));
            return out;
        }
        out.push_back(std::string(1, static_cast<char>(c)) + "=" + optarg);
    }
    out.push_back(optind < argc ? std::string("word=") + argv[optind] : "no word");
    return out;
}

TEST(Options, RandomCommandLinesParseAsGlibcGetoptParsesThem)
{
    const char *tokens[] = {"-f", "-v", "x", "misinfo", "--", "-", "-fv", "-vf", "-x",
                            "-v3", "-:", "-f-", "--x", "a.mis", "-ff", "-vv", "-fx", "y"};
    std::mt19937 rng(7);
    for (int posix = 0; posix < 2; posix++) {
        setposix(posix);
        for (int i = 0; i < 3000; i++) {
            std::vector<std::string> args(rng() % 7);
            for (std::string &a : args)
                a = tokens[rng() % (sizeof tokens / sizeof *tokens)];
            SCOPED_TRACE(testing::Message() << "posix = " << posix);
            SCOPED_TRACE(testing::Message() << "i = " << i);
            ASSERT_EQ(ours(args), glibcs(args));
        }
    }
    setposix(false);
}
#endif
