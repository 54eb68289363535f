// A conversion stopped by Ctrl-C, Ctrl-Break or the console closing leaves
// no partial output: the console's handler (on a thread of its own) deletes
// the temporary file of the output being written, then ends the process as
// Ctrl-C does. Putting an output in place holds the handler off.
#if defined(_WIN32)

#include <windows.h>

#include "shell.h"

namespace shell {
namespace {

struct ActiveOutput {
    ActiveOutput() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    BRRFile file{};
    bool armed = false;
};

ActiveOutput active;

BOOL WINAPI RemoveOutputAndEnd(DWORD /*event*/)
{
    EnterCriticalSection(&active.lock);
    if (active.armed) {
        BRRFileAbandon(&active.file);
    }
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void CatchEndingSignals()
{
    SetConsoleCtrlHandler(RemoveOutputAndEnd, TRUE);
}

void ArmCleanup(const BRRFile& file)
{
    EnterCriticalSection(&active.lock);
    active.file = file;
    active.armed = file.replacing != 0;
    LeaveCriticalSection(&active.lock);
}

void DisarmCleanup()
{
    EnterCriticalSection(&active.lock);
    active.armed = false;
    LeaveCriticalSection(&active.lock);
}

int FinishOutput(BRRFile* output, bool commit)
{
    EnterCriticalSection(&active.lock);
    const int error = commit ? BRRFileCommit(output) : 0;
    BRRFileClose(output);  // discards a replacement that was not put in place
    active.armed = false;
    LeaveCriticalSection(&active.lock);
    return error;
}

}  // namespace shell

#endif
