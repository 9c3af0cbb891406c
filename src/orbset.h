// orbset: shared declarations of the start-up, the commands and the
// diagnostics. The record layout and the scanner live in celobj.h.
#ifndef ORBSET_H
#define ORBSET_H

#include <cstdint>
#include <cstdio>

#if defined(__MINGW32__)
#define ORBSET_PRINTF(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define ORBSET_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// The run parameters, filled once from the command line.
struct params {
    int32_t verbosity;  // -v
    char *file;         // -f, a private copy, or null
};
extern params par;

// Fixed, not taken from argv: it names the program in hints and usage.
extern const char progname[];

// Trace line "func(line): text" and error line "func(line): ERROR: text".
// The error line ends the process with status 1.
void trace(const char *func, int line, const char *fmt, ...) ORBSET_PRINTF(3, 4);
[[noreturn]] void fatal(const char *func, int line, const char *fmt, ...)
    ORBSET_PRINTF(3, 4);

#define TRACE(...) trace(__func__, __LINE__, __VA_ARGS__)
#define FATAL(...) fatal(__func__, __LINE__, __VA_ARGS__)
// An entry trace is a trace line whose text is a single blank.
#define ENTRY() TRACE(" ")

// Text from outside the program (a name, the texture, a word of the
// command line) as it is printed: on a terminal with each control
// character shown as '?', elsewhere as it is. maskcontrols does the
// masking for a terminal whose text is UTF-8 or in another code page.
// The result lasts until the next call.
const char *printable(const char *text);
const char *maskcontrols(const char *text, bool utf8);
// The length of the well-formed UTF-8 character of two bytes or more at
// p, or 0 when none begins there: no overlong forms, no surrogates,
// nothing past U+10FFFF. A NUL ends the check before any byte after it is
// read.
size_t utf8len(const unsigned char *p);

// The console window: pause before it closes when it was opened for the
// program alone.
bool pauseatexit(unsigned long consoleprocesses, bool stdinisconsole, bool stdoutisconsole);
void consolestart();

// The game's files.
bool fileexists(const char *path);
void searchdir();
void chkw();

// The standard streams and signals, set up before anything else runs.
void startstreams();

// From a yes to the line that says what became of the file, the signals
// that end the program (Ctrl+C among them) wait; letendingsgo flushes
// that line out, then lets a signal that came meanwhile end the program.
void holdendings();
void letendingsgo();

// Files: opening for reading never waits and yields regular files only.
FILE *openread(const char *path);
#if defined(_WIN32)
bool isdiskfile(void *handle);  // a file on a disk, not a device or a pipe
#else
int openregular(const char *path, int mode);  // a descriptor, or -1
#endif
const char *basepart(const char *path);  // after the last slash or backslash
char *curdir();  // full path of the current directory, malloc'd, or null
char *diskname(const char *path);  // path as it lies on the disk, malloc'd
// Whether two names are the same ignoring letter case, as Windows takes
// them: letters of every script folded in UTF-8, any byte that is no
// part of a UTF-8 character compared as it is. Names the same so are of
// the same length.
bool foldequal(const char *a, const char *b);

// The listing of the current directory: null when it cannot be opened;
// nextentry returns null at its end, with failed set when that end is a
// read error.
struct listing;
listing *openlisting();
#if !defined(_WIN32)
listing *openfolder(const char *path);  // the listing of any folder
#endif
const char *nextentry(listing *l, bool *failed);
void closelisting(listing *l);

// A mission file held for its update: opened for reading and writing,
// regular files only, and no other writer while it is held (both kinds
// of lock on Linux, a share mode on Windows). Reads and writes go
// straight to the file and return the bytes done (heldread: -1 on an
// error, fewer than asked at the end of the file); heldsync returns once
// they are on disk. stillnamed tells whether the path it was held by
// still names it, which the path must outlive the hold to tell.
struct heldfile {
#if defined(_WIN32)
    void *handle;
#else
    int fd;
    const char *path;
#endif
};
bool holdfile(const char *path, heldfile *held);
bool stillnamed(heldfile *held);
bool heldseek(heldfile *held, int64_t offset);
long heldread(heldfile *held, unsigned char *buf, long size);
long heldwrite(heldfile *held, const unsigned char *buf, long size);
bool heldsync(heldfile *held);
void releasefile(heldfile *held);

// The commands.
[[noreturn]] void cmd_help();
void cmd_misinfo();
// Both workers name the file path in what they print and open ondisk,
// the name it has on the disk.
void misinfo(const char *path, const char *ondisk);
void cmd_mispatch();
// stockname, when given, is the stock name that path was found for; the
// mission number is read from it, else from path.
void mispatch(const char *path, const char *ondisk, const char *stockname = nullptr);
bool confirm(const char *prompt);

#endif
