// The yes/no question before each write.
#include <cctype>

#include "orbset.h"

// Shows prompt and reads one whitespace-delimited word; true when it
// begins with y or Y. The end of the input is no. Further words on the
// same line answer the following prompts.
bool confirm(const char *prompt)
{
    if (par.verbosity > 2)
        ENTRY();
    fputs(prompt, stdout);
    fflush(stdout);
    int c;
    do
        c = getchar();
    while (c != EOF && isspace(c));
    if (c == EOF)
        return false;
    bool yes = c == 'y' || c == 'Y';
    while (c != EOF && !isspace(c))
        c = getchar();
    if (c != EOF)
        ungetc(c, stdin);
    return yes;
}
