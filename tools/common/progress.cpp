// The progress line: "PROGRAM: NAME: 42% (about 3 s left)" on standard
// error, rewritten in place, for jobs long enough to need it.
#include <chrono>
#include <cstdio>

#include "host.h"
#include "shell.h"

namespace shell {
namespace {

// A job is shown once it has run this long and its estimate says it will
// run past a second in all; then at most ten times a second.
constexpr double kShowAfter = 0.4;
constexpr double kShowWhenLonger = 1.0;
constexpr double kEvery = 0.1;

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

ProgressLine::ProgressLine(const ShellOptions& options, const std::string& name, bool early)
    : name_(name), on_(!options.quiet && host::IsTerminal(host::kStandardError)), early_(early),
      start_(std::chrono::steady_clock::now())
{
}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Update(std::uint64_t done, std::uint64_t total)
{
    if (!on_ || total == 0 || done == 0 || (done >= total && !early_)) {
        return;
    }
    const double elapsed = Since(start_);
    const double whole = elapsed * static_cast<double>(total) / static_cast<double>(done);
    const bool due = early_ || (elapsed >= kShowAfter && whole >= kShowWhenLonger);
    if (!due || (shown_ && elapsed - last_ < kEvery)) {
        return;
    }
    last_ = elapsed;
    shown_ = true;
    const int percent = static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    PrintError("\r%s: %s: %d%% (about %.0f s left)\033[K", programName, name_.c_str(), percent,
               whole - elapsed + 0.5);
}

void ProgressLine::Clear()
{
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

void ShowProgress(void* line, std::uint64_t done, std::uint64_t total)
{
    static_cast<ProgressLine*>(line)->Update(done, total);
}

}  // namespace shell
