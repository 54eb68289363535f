// The scan over stretches: every chain of every byte phase, in one pass.
//
// Each of the 9 phases (offset mod 9) is a sequence of blocks that the end
// flags cut into segments; a sample is the tail of one segment. The image
// is looked at in stretches (look.h) on two threads where the platform has
// them, each taking the next stretch not yet looked at; the caller's thread
// decides the finds in order (chunk.h), so that they never depend on the
// stretches, and reports each in offset order once no chain still open can
// overlap it, a memory image's directory finds among them.
#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "scan/chunk.h"
#include "scan/look.h"
#include "scan/scan.h"

#include "base/shared.h"

#if VORNISH_THREADS
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace vornish {
namespace scan {
namespace {

#if VORNISH_THREADS
// Stretches looked at ahead of the one being decided, at most.
constexpr std::size_t kAhead = 8;
// Threads that look, at most (beside the caller's, which decides).
constexpr unsigned kMostHelpers = 4;
#endif

// Reports the finds decided so far when nothing later can overlap them.
class Reporter {
public:
    Reporter(const std::uint8_t* data, const std::vector<BRRFound>& directory, Finder& finder,
             BRRFoundFunction found, void* context)
        : data_(data), directory_(directory), finder_(finder), found_(found), context_(context)
    {
    }

    bool stopped() const { return stopped_; }

    // Reports the finds that no chain open at `upTo` can reach (every find,
    // when upTo is the end).
    void Add(std::uint64_t upTo, bool last)
    {
        const std::vector<Pending>& pending = finder_.finds();
        const std::uint64_t open = last ? std::numeric_limits<std::uint64_t>::max() : OpenFrom(upTo);
        std::size_t done = 0;
        while (done < pending.size() && EndOf(pending[done].found) <= open && !stopped_) {
            Report(pending[done].found.offset);
            if (!stopped_) {
                Call(pending[done].found);
            }
            ++done;
        }
        finder_.Reported(done);
        if (last) {
            Report(std::numeric_limits<std::uint64_t>::max());
        }
    }

private:
    // The first byte a chain still open before `upTo` may claim: each
    // phase's last end block, found by reading back as far as the last look.
    std::uint64_t OpenFrom(std::uint64_t upTo)
    {
        std::uint64_t from = std::numeric_limits<std::uint64_t>::max();
        for (std::uint64_t k = 0; k < kPhases; ++k) {
            if (upTo > k) {
                const std::uint64_t last = k + (upTo - 1 - k) / kPhases * kPhases;
                for (std::uint64_t p = last + kPhases; p > read_[k];) {
                    p -= kPhases;
                    if ((data_[p] & BRR_END_FLAG) != 0) {
                        segment_[k] = p + kPhases;
                        break;
                    }
                }
                read_[k] = last + kPhases;
            }
            from = std::min(from, segment_[k]);
        }
        return from;
    }

    // The directory's finds up to `offset`.
    void Report(std::uint64_t offset)
    {
        while (nextDirectory_ < directory_.size() && directory_[nextDirectory_].offset <= offset && !stopped_) {
            Call(directory_[nextDirectory_++]);
        }
    }

    void Call(const BRRFound& f) { stopped_ = found_(context_, &f) != 0; }

    const std::uint8_t* data_;
    const std::vector<BRRFound>& directory_;
    Finder& finder_;
    BRRFoundFunction found_;
    void* context_;
    std::size_t nextDirectory_ = 0;
    std::uint64_t segment_[kPhases] = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // open segments' starts, as last read
    std::uint64_t read_[kPhases] = {0, 1, 2, 3, 4, 5, 6, 7, 8};     // each phase read back to here
    bool stopped_ = false;
};

// A stretch's looks, once looked at.
struct Stretch {
    std::vector<Look> looks;
    bool done = false;
};

// The looks at every stretch, in order. Where there are threads, a helper
// per processor looks at the next stretch not yet looked at while the
// caller's thread decides the ones looked at, and looks too while it waits;
// without, the caller's thread looks at each in turn.
class Looks {
public:
    Looks(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& o, std::uint64_t positions,
          std::uint64_t stretch)
        : data_(data), size_(size), options_(o), positions_(positions), stretch_(stretch),
          count_(static_cast<std::size_t>(std::max<std::uint64_t>(1, (positions + stretch - 1) / stretch))),
          stretches_(count_)
    {
#if VORNISH_THREADS
        // One stretch alone is looked at by the caller's thread: no thread to start.
        const std::size_t wanted = count_ < 2 ? 0 : std::min<std::size_t>(count_, std::min(kMostHelpers,
                                                     std::max(1u, std::thread::hardware_concurrency())));
        try {
            while (helperCount_ < wanted) {
                helpers_[helperCount_] = std::thread([this] { Help(); });
                ++helperCount_;
            }
        } catch (const std::system_error&) {
            // No more threads to be had: those there are look (or the caller's thread).
        }
#endif
    }
    ~Looks()
    {
#if VORNISH_THREADS
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::size_t k = 0; k < helperCount_; ++k) {
            helpers_[k].join();
        }
#endif
    }
    Looks(const Looks&) = delete;
    Looks& operator=(const Looks&) = delete;

    std::size_t count() const { return count_; }
    // Where stretch k ends.
    std::uint64_t End(std::size_t k) const { return std::min(positions_, (k + 1) * stretch_); }

    // The looks at stretch k, the one after the last taken. Throws std::bad_alloc.
    std::vector<Look> Take(std::size_t k)
    {
#if VORNISH_THREADS
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stretches_[k].done) {
            if (failed_) {
                throw std::bad_alloc();
            }
            if (MayLook()) {
                LookAtNext(lock);
            } else {
                changed_.wait(lock);
            }
        }
        taken_ = k + 1;
        changed_.notify_all();
        return std::move(stretches_[k].looks);
#else
        return LookAt(data_, size_, options_, k * stretch_, End(k));
#endif
    }

private:
#if VORNISH_THREADS
    bool MayLook() const { return next_ < count_ && next_ < taken_ + kAhead && !stop_; }

    // Looks at the next stretch, the lock released meanwhile.
    void LookAtNext(std::unique_lock<std::mutex>& lock)
    {
        const std::size_t k = next_++;
        lock.unlock();
        std::vector<Look> looks;
        bool failed = false;
        try {
            looks = LookAt(data_, size_, options_, k * stretch_, End(k));
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        lock.lock();
        stretches_[k].looks = std::move(looks);
        stretches_[k].done = !failed;
        failed_ = failed_ || failed;
        changed_.notify_all();
    }

    void Help()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_ && !failed_ && next_ < count_) {
            if (MayLook()) {
                LookAtNext(lock);
            } else {
                changed_.wait(lock);
            }
        }
    }
#endif

    const std::uint8_t* data_;
    std::uint64_t size_;
    const BRRScanOptions& options_;
    std::uint64_t positions_;
    std::uint64_t stretch_;
    std::size_t count_;
    std::vector<Stretch> stretches_;
#if VORNISH_THREADS
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread helpers_[kMostHelpers];  // an array: no container of threads leaves the library
    std::size_t helperCount_ = 0;
    std::size_t next_ = 0;   // the next stretch to look at
    std::size_t taken_ = 0;  // stretches handed to the caller's thread
    bool failed_ = false;
    bool stop_ = false;
#endif
};

}  // namespace

void ScanStretches(const std::uint8_t* data, std::uint64_t size, const BRRScanOptions& o,
                   const std::vector<BRRFound>& directory, BRRFoundFunction found, void* context,
                   std::uint64_t stretch)
{
    const std::uint64_t positions = size >= BRR_BLOCK_SIZE ? size - BRR_BLOCK_SIZE + 1 : 0;
    Finder finder(data, o, directory);
    Reporter reporter(data, directory, finder, found, context);
    Looks looks(data, size, o, positions, stretch);
    for (std::size_t k = 0; k < looks.count() && !reporter.stopped(); ++k) {
        finder.Take(looks.Take(k));
        const std::uint64_t at = looks.End(k);
        const bool last = k + 1 == looks.count();
        reporter.Add(at, last);
        if (o.progress != nullptr && !reporter.stopped()) {
            o.progress(context, last ? size : at, size);
        }
    }
}

}  // namespace scan
}  // namespace vornish
