// The report command: prints the enabled records of mission files.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "celobj.h"
#include "orbset.h"

static bool printenabled(int64_t, bool)
{
    if (celobj_int(CO_ENA) == 1)
        print_celobj();
    return true;
}

void misinfo(const char *path, const char *ondisk)
{
    printf("\nmisfile=%s\n\n", printable(path));
    FILE *f = openread(ondisk);
    if (!f)
        FATAL("Cannot open file %s.", printable(path));
    if (scancelobj(f, __func__, printenabled) == SCAN_READERROR)
        FATAL("Cannot read file %s.", printable(path));
    fclose(f);
    // Each file's report is shown as soon as it is complete.
    fflush(stdout);
}

static bool hasmissuffix(const char *name)
{
    size_t len = strlen(name);
    return len >= 4 && strcasecmp(name + len - 4, ".mis") == 0;
}

void cmd_misinfo()
{
    if (par.verbosity > 2)
        ENTRY();
    if (par.file) {
        char *ondisk = diskname(par.file);
        misinfo(par.file, ondisk);
        free(ondisk);
        return;
    }
    listing *l = openlisting();
    if (!l)
        FATAL("Cannot open current directory.");
    // In the listing's own order: the report shows what is on disk, as is.
    bool failed;
    while (const char *name = nextentry(l, &failed)) {
        if (par.verbosity > 3)
            TRACE("dirent=%s", printable(name));
        if (hasmissuffix(name))
            misinfo(name, name);
    }
    // A listing cut short is no complete report.
    if (failed)
        FATAL("Cannot read current directory.");
    closelisting(l);
}
