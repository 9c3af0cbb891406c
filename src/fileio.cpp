// The few file system calls whose behaviour differs between platforms.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orbset.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#endif

#if defined(_WIN32)
bool isdiskfile(void *handle)
{
    // CON, NUL and pipes open like files; only a file on a disk is one.
    // Windows refuses to open a directory.
    return GetFileType(handle) == FILE_TYPE_DISK;
}

FILE *openread(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return nullptr;
    if (!isdiskfile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))))) {
        fclose(f);
        return nullptr;
    }
    return f;
}
#else
int openregular(const char *path, int mode)
{
    // Opening a FIFO would wait for its other end: open without waiting,
    // then accept a regular file only (a directory, a device or a FIFO is
    // no mission file), and read and write it as usual from then on.
    int fd;
    do
        fd = open(path, mode | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

FILE *openread(const char *path)
{
    int fd = openregular(path, O_RDONLY);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "rb");
    if (!f)
        close(fd);
    return f;
}
#endif

const char *basepart(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; p++) {
#if defined(_WIN32)
        // In a double-byte code page (Japanese 932 among them) the second
        // byte of a character may be a backslash that separates nothing.
        // UTF-8 has no such bytes, and no lead bytes either.
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            p++;
            continue;
        }
#endif
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

char *curdir()
{
    for (size_t size = 256; size <= 1 << 20; size *= 2) {
        char *buf = static_cast<char *>(malloc(size));
        if (!buf)
            return nullptr;
        if (getcwd(buf, size))
            return buf;
        free(buf);
        if (errno != ERANGE)
            return nullptr;
    }
    return nullptr;
}

static char *copyof(const char *text)
{
    char *copy = strdup(text);
    if (!copy)
        FATAL("Out of memory.");
    return copy;
}

// Installations copied from the game's CD or a store may name their files
// in any letter case, which matters where the file system tells case
// apart. The exact name wins; otherwise, of the readable entries that
// equal name ignoring case, the first in byte order, since the order of a
// listing differs from one file system to the next; otherwise name itself.
char *diskname(const char *name)
{
    FILE *f = openread(name);
    if (f) {
        fclose(f);
        return copyof(name);
    }
    listing *l = openlisting();
    char *found = nullptr;
    bool failed;
    while (const char *entry = l ? nextentry(l, &failed) : nullptr) {
        if (strcasecmp(entry, name) != 0 || (found && strcmp(entry, found) >= 0))
            continue;
        // A folder or an unreadable entry must not hide the file itself.
        FILE *candidate = openread(entry);
        if (candidate) {
            fclose(candidate);
            free(found);
            found = copyof(entry);
        }
    }
    if (l)
        closelisting(l);
    return found ? found : copyof(name);
}
