// Trace and error lines. Everything, errors included, goes to standard
// output, so a player sees it all in one console window.
#include <cstdarg>
#include <cstdlib>

#include "orbset.h"

static void vline(const char *func, int line, const char *kind, const char *fmt,
                  va_list ap)
{
    printf("%s(%d): %s", func, line, kind);
    vprintf(fmt, ap);
    putchar('\n');
}

void trace(const char *func, int line, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vline(func, line, "", fmt, ap);
    va_end(ap);
}

void fatal(const char *func, int line, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vline(func, line, "ERROR: ", fmt, ap);
    va_end(ap);
    letendingsgo();
    exit(1);
}
