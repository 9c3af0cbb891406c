// Option parsing with GNU getopt's rules on every platform: options may
// stand before or after the other arguments, "--" ends the options, and
// POSIXLY_CORRECT in the environment stops them at the first other
// argument. Some C libraries' getopt (mingw-w64's among them) never
// permutes, so the program carries its own.
#ifndef GETOPTION_H
#define GETOPTION_H

struct optionparser {
    int next;             // the next argument to examine
    const char *cluster;  // the rest of "-abc" still to be read
    int firstword;        // index of the first non-option, 0 while none
    bool stopped;         // no options after this point
    const char *value;    // the value of the option just returned
    int bad;              // the offending character after '?'
};

void startoptions(optionparser *p);

// Returns the next option character, '?' for an unknown option or a
// missing value (bad holds its character), or -1 at the end.
int getoption(optionparser *p, int argc, char *const *argv, const char *optstring);

// The first argument that is neither an option nor an option's value.
const char *firstword(const optionparser *p, int argc, char *const *argv);

#endif
