// The standard streams, made safe before the program opens any file.
#include <csignal>
#include <fcntl.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "orbset.h"

#if defined(_WIN32)
static bool isopen(int fd)
{
    return _get_osfhandle(fd) != -1;
}

static int opennull()
{
    return _open("NUL", _O_RDONLY);
}
#else
static bool isopen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

static int opennull()
{
    // A bare container or chroot may have no /dev/null, but every root
    // has a root folder: reading it fails, as does writing to it.
    int fd = open("/dev/null", O_RDONLY);
    return fd >= 0 ? fd : open("/", O_RDONLY);
}
#endif

void startstreams()
{
    // A standard stream that was closed would be the next file opened: a
    // mission file opened for update would then receive the program's
    // output. The null device takes its place instead (without one, the
    // root folder); opened in order from 0, it gets the lowest free
    // number, the closed stream's. It is opened for reading
    // only, so output to it still fails: a closed standard output is
    // output nobody sees, and no question is answered yes that nobody
    // could read.
    for (int fd = 0; fd <= 2; fd++)
        if (!isopen(fd))
            opennull();
#if !defined(_WIN32)
    // Output that cannot be delivered is an error the program reports in
    // its exit status, not a signal that kills it; a file-size limit makes
    // a write fail, which the patch undoes, instead of cutting it short.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
#endif
}
