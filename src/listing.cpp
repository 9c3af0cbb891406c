// The entries of the current directory, in the order the system gives
// them, with a read error told apart from the end of the listing.
#include <cerrno>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#endif

#include "orbset.h"

#if defined(_WIN32)
// Listed by the relative pattern ".\*": the folder's own name, which may
// be long or not fit the code page, never has to be spelt out. Names come
// in UTF-16 and are handed out in the program's code page (UTF-8 where
// the manifest is honoured), in a buffer that fits the longest name a
// file system holds, which the ANSI listing's 260 bytes do not.
enum { NAMEBYTES = 4 * MAX_PATH };

struct listing {
    HANDLE find;
    WIN32_FIND_DATAW entry;
    bool first;  // entry holds the first name, not yet handed out
    char name[NAMEBYTES];
};

listing *openlisting()
{
    listing *l = static_cast<listing *>(malloc(sizeof *l));
    if (!l)
        FATAL("Out of memory.");
    l->find = FindFirstFileW(L".\\*", &l->entry);
    if (l->find == INVALID_HANDLE_VALUE) {
        free(l);
        return nullptr;
    }
    l->first = true;
    return l;
}

const char *nextentry(listing *l, bool *failed)
{
    *failed = false;
    if (!l->first && !FindNextFileW(l->find, &l->entry)) {
        *failed = GetLastError() != ERROR_NO_MORE_FILES;
        return nullptr;
    }
    l->first = false;
    if (WideCharToMultiByte(CP_ACP, 0, l->entry.cFileName, -1, l->name, NAMEBYTES, nullptr,
                            nullptr) == 0) {
        *failed = true;
        return nullptr;
    }
    return l->name;
}

void closelisting(listing *l)
{
    FindClose(l->find);
    free(l);
}
#else
struct listing {
    DIR *dir;
};

listing *openfolder(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir)
        return nullptr;
    listing *l = static_cast<listing *>(malloc(sizeof *l));
    if (!l)
        FATAL("Out of memory.");
    l->dir = dir;
    return l;
}

listing *openlisting()
{
    return openfolder(".");
}

const char *nextentry(listing *l, bool *failed)
{
    errno = 0;
    struct dirent *entry = readdir(l->dir);
    *failed = !entry && errno != 0;
    return entry ? entry->d_name : nullptr;
}

void closelisting(listing *l)
{
    closedir(l->dir);
    free(l);
}
#endif
