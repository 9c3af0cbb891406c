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

// Whether path names a file that can be opened for reading.
static bool readable(const char *path)
{
    FILE *f = openread(path);
    if (f)
        fclose(f);
    return f != nullptr;
}

#if !defined(_WIN32)
static bool isfolder(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
#endif

// Spells the last part of path, from part on, as the entry of its folder
// that equals it ignoring case and is usable: of several such, the first
// in byte order, since the order of a listing differs from one file
// system to the next. A name equal ignoring case has the same length, so
// each candidate is tried in place. Returns false, with path as it was,
// when no entry fits.
static bool respell(char *path, char *part, bool (*usable)(const char *))
{
    char *given = copyof(part);
    *part = '\0';  // path now names the folder, "" the current one
#if defined(_WIN32)
    listing *l = openlisting();
#else
    listing *l = openfolder(*path ? path : ".");
#endif
    char *best = nullptr;
    bool failed;
    while (const char *entry = l ? nextentry(l, &failed) : nullptr) {
        if (strcasecmp(entry, given) != 0 || (best && strcmp(entry, best) >= 0))
            continue;
        // A folder or an unreadable entry must not hide the file itself.
        strcpy(part, entry);
        if (usable(path)) {
            free(best);
            best = copyof(entry);
        }
    }
    if (l)
        closelisting(l);
    bool found = best != nullptr;
    strcpy(part, found ? best : given);
    free(given);
    free(best);
    return found;
}

#if !defined(_WIN32)
// Each part of path respelt where it names nothing as given: the folders
// on the way, then the file. False when some part is not found.
static bool respellparts(char *path)
{
    for (char *part = path; *part;) {
        size_t len = strcspn(part, "/");
        if (len == 0) {
            part++;
            continue;
        }
        char *end = part + len;
        bool last = end[strspn(end, "/")] == '\0';
        char separator = *end;
        *end = '\0';
        bool (*usable)(const char *) = last ? readable : isfolder;
        bool found = usable(path) || respell(path, part, usable);
        *end = separator;
        if (!found)
            return false;
        part = end;
    }
    return true;
}
#endif

// Installations copied from the game's CD or a store may name their files
// in any letter case, and a player types a name as Windows takes it: where
// the file system tells case apart, a path that names no file as given is
// looked up folder by folder (on Windows, which finds any case itself,
// only a name in the current folder). In each folder the exact name wins,
// otherwise the first in byte order of the entries that equal it ignoring
// case. A path not found so comes back as given.
char *diskname(const char *path)
{
    char *found = copyof(path);
#if defined(_WIN32)
    bool ok = readable(found) || respell(found, found, readable);
#else
    bool ok = respellparts(found);  // tries each part as given first
#endif
    if (!ok)
        strcpy(found, path);
    return found;
}
