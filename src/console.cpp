// What a Windows console program needs before main's work starts: file
// name patterns among the arguments expanded, as a shell would, and a
// window that stays open until its output has been read.
#include <cstdlib>

#include "orbset.h"

#if defined(_WIN32)
#include <windows.h>

// mingw-w64's start-up code expands wildcards in the arguments when asked.
int _dowildcard = -1;
#endif

bool pauseatexit(unsigned long consoleprocesses, bool stdinisconsole, bool stdoutisconsole)
{
    // Only a window opened for this program alone (a double-click in
    // Explorer) closes at exit; a console that started it, or redirected
    // streams, mean someone else reads the output.
    return consoleprocesses == 1 && stdinisconsole && stdoutisconsole;
}

#if defined(_WIN32)
static bool isconsole(DWORD stream)
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

static void waitforenter()
{
    fputs("Press Enter to close this window.", stdout);
    fflush(stdout);
    // Words typed ahead for the prompts must not close the window unread.
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(in);
    char c = 0;
    DWORD got = 0;
    while (ReadConsoleA(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    }
}
#endif

void consolestart()
{
#if defined(_WIN32)
    DWORD processes[2];
    DWORD count = GetConsoleProcessList(processes, 2);
    if (pauseatexit(count, isconsole(STD_INPUT_HANDLE), isconsole(STD_OUTPUT_HANDLE)))
        atexit(waitforenter);
#endif
}
