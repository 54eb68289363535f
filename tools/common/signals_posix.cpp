// A conversion stopped by a signal leaves no partial output: outputs are
// replacements that take their target's place only when complete, and the
// handler discards the temporary name of the one being written, where it has
// one (on Linux it has none), then dies of the signal.
#if !defined(_WIN32)

#include <atomic>
#include <csignal>
#include <cstring>

#include "shell.h"

namespace shell {
namespace {

struct ActiveOutput {
    BRRFile file{};
    volatile std::sig_atomic_t armed = 0;
};

ActiveOutput active;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveOutputAndDie(int signal)
{
    if (active.armed != 0) {
        BRRFileAbandon(&active.file);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void CatchEndingSignals()
{
    for (const int signal : kEndingSignals) {
        // A signal the shell had us ignore (a background job's SIGINT) stays ignored.
        struct sigaction old;
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveOutputAndDie;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

void ArmCleanup(const BRRFile& file)
{
    active.armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    active.file = file;
    std::atomic_signal_fence(std::memory_order_seq_cst);  // set before a handler can look
    active.armed = file.replacing;
}

void DisarmCleanup() { active.armed = 0; }

// The ending signals wait while the output is put in place or discarded:
// the handler must never see the file half committed, or its names freed.
int FinishOutput(BRRFile* output, bool commit)
{
    sigset_t ending;
    sigset_t old;
    sigemptyset(&ending);
    for (const int signal : kEndingSignals) {
        sigaddset(&ending, signal);
    }
    ::sigprocmask(SIG_BLOCK, &ending, &old);
    const int error = commit ? BRRFileCommit(output) : 0;
    BRRFileClose(output);  // discards a replacement that was not put in place
    DisarmCleanup();
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    return error;
}

}  // namespace shell

#endif
