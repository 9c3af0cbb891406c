// The help text.
#include <cstdlib>

#include "orbset.h"

static const char usage[] =
    "\n"
    "Usage: %s [command] [options]\n"
    "\n"
    "Commands:\n"
    "\n"
    "    misinfo   Show the current values.\n"
    "              Nothing to do with misinformation.\n"
    "\n"
    "    mispatch  Patch the values in *.mis file(s).\n"
    "\n"
    "\n"
    "Options:\n"
    "    -f <file>   operate on specified file\n"
    "    -h          help\n"
    "    -v <level>  verbosity level\n";

static const char description[] =
    "\n"
    "This program replaces the stock moon in Thief 2: The Metal Age with a\n"
    "more realistic one.  This is a texture replacement, but also the\n"
    "color, alpha, rotation and phase are modified.\n"
    "\n"
    "Requires ddfix (http://timeslip.chorrol.com/) with\n"
    "Thief2Extensions on.\n"
    "\n"
    "The easiest way to use this program is to place it anywhere under your\n"
    "Thief2 installation directory and then just double-click on\n"
    "orbset.exe. You'll be prompted on each file that is patched.\n"
    "\n"
    "Only a single command may be specified. If no command is given, the\n"
    "default is to execute mispatch. Options may appear in any order, the\n"
    "last of conflicting options takes effect.\n"
    "\n"
    "Thief2 installation directory is searched by starting at the current\n"
    "working directory and going up the directory tree level by level until\n"
    "thief2.exe is found. Any relative paths used with the -f option are\n"
    "relative to this directory.\n";

void cmd_help()
{
    printf(usage, progname);
    fputs(description, stdout);
    putchar('\n');
    exit(1);
}
