// Finding the game's installation directory by climbing from the
// current directory towards the root.
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "orbset.h"

enum { MAXLEVELS = 128 };  // the start directory and 127 ancestors

// Returns true when path can be opened for binary reading.
bool fileexists(const char *path)
{
    if (par.verbosity > 2)
        ENTRY();
    FILE *f = openread(path);
    bool exists = f != nullptr;
    if (f)
        fclose(f);
    if (par.verbosity > 1)
        TRACE("File %s %s.", printable(path), exists ? "exists" : "doesn't exist");
    return exists;
}

// Returns only with the game directory as the current directory.
void searchdir()
{
    if (par.verbosity > 2)
        ENTRY();
    char *previous = nullptr;
    for (int count = 0;;) {
        char *path = curdir();
        if (!path)
            FATAL("getcwd()");
        if (par.verbosity > 3)
            TRACE("%s", printable(path));
        // At the root ".." is the root again, and a failed chdir leaves us
        // where we were: either way the search has nowhere left to go.
        if (previous && strcmp(path, previous) == 0)
            FATAL("Cannot find Thief2 installation directory.");
        char *exe = diskname("thief2.exe");
        bool found = fileexists(exe);
        free(exe);
        if (found) {
            printf("Thief2 directory is %s.\n", printable(path));
            free(path);
            free(previous);
            return;
        }
        if (chdir("..") != 0) {
            // Caught by the comparison in the next pass.
        }
        free(previous);
        previous = path;
        if (++count >= MAXLEVELS)
            FATAL("Cannot find Thief2 installation directory.");
    }
}
