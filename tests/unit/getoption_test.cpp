// The option parser follows GNU getopt's rules: permutation, "--",
// POSIXLY_CORRECT, clusters and values, and the offending character.
#include <doctest/doctest.h>

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

TEST_CASE("options before and after the command word")
{
    setposix(false);
    CHECK(ours({"misinfo", "-v", "2"}) == outcome{"v=2", "word=misinfo"});
    CHECK(ours({"-v", "2", "misinfo"}) == outcome{"v=2", "word=misinfo"});
    CHECK(ours({"a", "-fx", "b", "-v3"}) == outcome{"f=x", "v=3", "word=a"});
    CHECK(ours({"-f", "-v", "-v", "--"}) == outcome{"f=-v", "v=--", "no word"});
    CHECK(ours({}) == outcome{"no word"});
}

TEST_CASE("double dash, lone dash and bad options")
{
    setposix(false);
    CHECK(ours({"--", "-v"}) == outcome{"word=-v"});
    CHECK(ours({"x", "--", "-v"}) == outcome{"word=x"});
    CHECK(ours({"-"}) == outcome{"word=-"});
    CHECK(ours({"-v"}) == outcome{"?v"});
    CHECK(ours({"-x"}) == outcome{"?x"});
    CHECK(ours({"-:"}) == outcome{"?:"});
    CHECK(ours({"--help"}) == outcome{"?-"});
    CHECK(ours({"-V", "2"}) == outcome{"?V"});
    CHECK(ours({"-v1", "-f"}) == outcome{"v=1", "?f"});
}

TEST_CASE("POSIXLY_CORRECT stops at the first non-option")
{
    setposix(true);
    CHECK(ours({"misinfo", "-x"}) == outcome{"word=misinfo"});
    CHECK(ours({"-v", "3", "misinfo", "-v", "1"}) == outcome{"v=3", "word=misinfo"});
    CHECK(ours({"-x", "misinfo"}) == outcome{"?x"});
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

TEST_CASE("random command lines parse as the GNU C library's getopt parses them")
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
            CAPTURE(posix);
            CAPTURE(i);
            REQUIRE(ours(args) == glibcs(args));
        }
    }
    setposix(false);
}
#endif
