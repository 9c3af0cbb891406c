// What a Windows console program needs before main's work starts: file
// name patterns among the arguments expanded, as a shell would, a console
// that shows the program's text as it is, and a window that stays open
// until its output has been read.
#include <cstdlib>

#include "orbset.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
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

// The console shows text in its own code page, which is not the one the
// program's text is in (an OEM page such as 437 or 866, where names are
// in the ANSI page or, with the manifest's UTF-8, in UTF-8): while the
// program runs, the console is switched to the program's page, and back
// at the end, since a console started from cmd outlives the program.
static UINT foundoutputcp, foundinputcp;

static void restorecodepages()
{
    // What the program wrote is shown in its own page first: the streams
    // are flushed only after the exit handlers have run.
    fflush(stdout);
    SetConsoleOutputCP(foundoutputcp);
    SetConsoleCP(foundinputcp);
}

static BOOL WINAPI restoreonbreak(DWORD)
{
    restorecodepages();
    return FALSE;  // and let Ctrl+C or the close button end the program
}

static void usetextcodepage()
{
    foundoutputcp = GetConsoleOutputCP();
    foundinputcp = GetConsoleCP();
    UINT text = GetACP();
    if (foundoutputcp == 0 || (foundoutputcp == text && foundinputcp == text))
        return;  // no console, or it shows our text already
    SetConsoleOutputCP(text);
    SetConsoleCP(text);
    atexit(restorecodepages);
    SetConsoleCtrlHandler(restoreonbreak, TRUE);
}

// The C runtime's text mode may recode what goes to a console as if it
// were in its own locale's code page; in binary mode the console gets
// the bytes as they are (a line feed still starts a new line there).
// Unbuffered, a character's bytes would reach the console one write at a
// time; the buffer holds a whole file's report, which goes out when it
// is complete, as does everything before a question.
enum { CONSOLEBUFFER = 64 * 1024 };

static void rawconsoleoutput()
{
    if (!isconsole(STD_OUTPUT_HANDLE))
        return;
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IOFBF, CONSOLEBUFFER);
}
#endif

void consolestart()
{
#if defined(_WIN32)
    usetextcodepage();
    rawconsoleoutput();
    // Registered after the code pages' restore, so it runs before it.
    DWORD processes[2];
    DWORD count = GetConsoleProcessList(processes, 2);
    if (pauseatexit(count, isconsole(STD_INPUT_HANDLE), isconsole(STD_OUTPUT_HANDLE)))
        atexit(waitforenter);
#endif
}
