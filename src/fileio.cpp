// The few file system calls whose behaviour differs between platforms.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orbset.h"

FILE *openread(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return nullptr;
#if !defined(_WIN32)
    // Linux opens a directory for reading and fails only at the first
    // read; a directory is never a file here. Windows refuses to open one.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        fclose(f);
        return nullptr;
    }
#endif
    return f;
}

bool seekto(FILE *f, int64_t offset)
{
#if defined(_WIN32)
    return _fseeki64(f, offset, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
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

// Installations copied from the game's CD or a store may name their files
// in any letter case, which matters where the file system tells case
// apart. The exact name wins; otherwise the first readable entry of the
// listing that equals name ignoring case; otherwise name itself.
char *diskname(const char *name)
{
    const char *found = name;
    FILE *f = openread(name);
    DIR *dir = f ? nullptr : opendir(".");
    if (f)
        fclose(f);
    while (struct dirent *entry = dir ? readdir(dir) : nullptr) {
        if (strcasecmp(entry->d_name, name) != 0)
            continue;
        // A folder or an unreadable entry must not hide the file itself.
        FILE *candidate = openread(entry->d_name);
        if (candidate) {
            fclose(candidate);
            found = entry->d_name;
            break;
        }
    }
    char *copy = strdup(found);
    if (dir)
        closedir(dir);
    if (!copy)
        FATAL("Out of memory.");
    return copy;
}
