// GNU getopt's rules without reordering argv: the options are returned in
// the order given, and the first other argument is remembered.
#include <cstdlib>
#include <cstring>

#include "getoption.h"

void startoptions(optionparser *p)
{
    p->next = 1;
    p->cluster = nullptr;
    p->firstword = 0;
    p->stopped = getenv("POSIXLY_CORRECT") != nullptr;
    p->value = nullptr;
    p->bad = 0;
}

// Moves to the next option cluster; false when the options have ended.
static bool nextcluster(optionparser *p, int argc, char *const *argv)
{
    while (p->next < argc) {
        const char *arg = argv[p->next];
        if (strcmp(arg, "--") == 0) {
            p->next++;
            if (!p->firstword && p->next < argc)
                p->firstword = p->next;
            p->next = argc;
            return false;
        }
        if (arg[0] == '-' && arg[1] != '\0') {
            p->cluster = arg + 1;
            p->next++;
            return true;
        }
        // A lone "-" is a word like any other.
        if (!p->firstword)
            p->firstword = p->next;
        p->next++;
        if (p->stopped) {
            p->next = argc;
            return false;
        }
    }
    return false;
}

int getoption(optionparser *p, int argc, char *const *argv, const char *optstring)
{
    p->value = nullptr;
    if ((!p->cluster || !*p->cluster) && !nextcluster(p, argc, argv))
        return -1;
    char c = *p->cluster++;
    // ':' only marks a value in optstring; it is never an option itself.
    const char *letter = c == ':' ? nullptr : strchr(optstring, c);
    if (!letter) {
        p->bad = static_cast<unsigned char>(c);
        return '?';
    }
    if (letter[1] == ':') {
        if (*p->cluster) {
            p->value = p->cluster;
        } else if (p->next < argc) {
            p->value = argv[p->next++];
        } else {
            p->bad = static_cast<unsigned char>(c);
            return '?';
        }
        p->cluster = nullptr;
    }
    return static_cast<unsigned char>(c);
}

const char *firstword(const optionparser *p, int argc, char *const *argv)
{
    return p->firstword && p->firstword < argc ? argv[p->firstword] : nullptr;
}
