// The patch command.
#include "orbset.h"

void cmd_mispatch()
{
    if (par.verbosity > 2)
        ENTRY();
}
