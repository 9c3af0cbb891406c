// Start-up: the command line, the game directory, and the one command.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "getoption.h"
#include "orbset.h"

// A help request wins over everything, even where it stands as the value
// of an option, so it is looked for before the options are parsed.
static bool helprequested(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        if (strncasecmp(argv[i], "-h", 2) == 0)
            return true;
    return false;
}

void chkw()
{
    if (par.verbosity > 2)
        ENTRY();
}

int main(int argc, char **argv)
{
    startstreams();
    consolestart();
    if (helprequested(argc, argv))
        cmd_help();

    optionparser options;
    startoptions(&options);
    for (int c; (c = getoption(&options, argc, argv, "f:v:")) != -1;) {
        if (c == 'f') {
            free(par.file);
            par.file = strdup(options.value);
            if (!par.file)
                FATAL("Out of memory.");
        } else if (c == 'v') {
            par.verbosity = atoi(options.value);
        } else {
            // The letter as typed: it may be any byte, a control among them.
            const char typed[] = {static_cast<char>(options.bad), '\0'};
            FATAL("Invalid option '%c' or missing value. (Try %s -h)", *printable(typed),
                  progname);
        }
    }
    if (par.verbosity > 1)
        TRACE("%s %s", __FILE__, __DATE__);
    chkw();
    searchdir();

    // The game directory is found before the command word is looked at.
    const char *word = firstword(&options, argc, argv);
    if (!word || strcasecmp(word, "mispatch") == 0)
        cmd_mispatch();
    else if (strcasecmp(word, "misinfo") == 0)
        cmd_misinfo();
    else
        FATAL("Invalid command %s. (Try %s -h)", printable(word), progname);

    // Output that never arrived is no success either.
    if (fflush(stdout) != 0 || ferror(stdout))
        return 1;
    return 0;
}
