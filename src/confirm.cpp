// The yes/no question before each write.
#include <cctype>

#include "orbset.h"

// Once reading the answers has failed, what comes later may belong to
// another question: no answer is read again.
static bool inputfailed;

// Reads one whitespace-delimited word; true when it begins with y or Y.
// The end of the input is no, and so is an input error, for this and
// every later question.
static bool readyes()
{
    if (inputfailed)
        return false;
    int c;
    do
        c = getchar();
    while (c != EOF && isspace(c));
    bool yes = c == 'y' || c == 'Y';
    while (c != EOF && !isspace(c))
        c = getchar();
    if (ferror(stdin)) {
        inputfailed = true;
        return false;
    }
    if (c != EOF)
        ungetc(c, stdin);
    return yes;
}

// Shows prompt and reads the answer. Further words on the same line answer
// the following prompts. A question that could not be shown, with the
// values before it, gets no yes: nothing is written that was not shown.
bool confirm(const char *prompt)
{
    if (par.verbosity > 2)
        ENTRY();
    fputs(prompt, stdout);
    if (fflush(stdout) != 0 || ferror(stdout))
        return false;
    return readyes();
}
