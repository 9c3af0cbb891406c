// The signals that end the program, held back while a mission file is
// written: neither a failed write nor a done one may go unreported, and a
// failed one's old bytes must be back before the program ends. A signal
// that came meanwhile ends the program once its line is out.
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#endif

#include "orbset.h"

#if defined(_WIN32)
static volatile LONG pressed;  // Ctrl+C or Ctrl+Break came while held

// Called on a thread of its own, at any moment.
static BOOL WINAPI notenow(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;  // the window is closing: that cannot be put off
    pressed = 1;
    return TRUE;
}

void holdendings()
{
    SetConsoleCtrlHandler(notenow, TRUE);
}

void letendingsgo()
{
    fflush(stdout);
    SetConsoleCtrlHandler(notenow, FALSE);
    // Ended with the status of Ctrl+C's own end, through exit, so that
    // the console's code pages go back, and a window opened for the
    // program alone waits until its last line has been read.
    if (pressed)
        exit(static_cast<int>(STATUS_CONTROL_C_EXIT));
}
#else
static sigset_t before;  // the mask to go back to
static bool holding;

void holdendings()
{
    static const int ending[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
    sigset_t set;
    sigemptyset(&set);
    for (int sig : ending)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &before);
    holding = true;
}

void letendingsgo()
{
    if (!holding)
        return;
    holding = false;
    fflush(stdout);  // a signal's end flushes nothing
    sigprocmask(SIG_SETMASK, &before, nullptr);
}
#endif
