#include "stream/writer.h"

#if VORNISH_THREADS
#include <system_error>
#endif

namespace vornish {

#if VORNISH_THREADS
namespace {

void WriterLoop(Writer& w)
{
    std::unique_lock<std::mutex> lock(w.mutex);
    for (int i = 0;; i ^= 1) {
        w.changed.wait(lock, [&] { return w.pending[i] != 0 || w.stopping; });
        if (w.pending[i] == 0) {
            return;
        }
        lock.unlock();
        const bool ok = w.write(w.context, w.buffers[i], w.pending[i]) == 0;
        lock.lock();
        w.failed = w.failed || !ok;
        w.pending[i] = 0;
        w.changed.notify_all();
    }
}

}  // namespace
#endif

void StartWriter(Writer& w)
{
#if VORNISH_THREADS
    try {
        // A lambda keeps the thread's state type local to this file, so that
        // none of its symbols leaves the shared library.
        w.thread = std::thread([&w] { WriterLoop(w); });
    } catch (const std::system_error&) {
        // No thread to be had: the buffers are written inline instead.
    }
#else
    (void)w;
#endif
}

std::int16_t* NextBuffer(Writer& w)
{
#if VORNISH_THREADS
    std::unique_lock<std::mutex> lock(w.mutex);
    w.changed.wait(lock, [&] { return w.pending[w.next] == 0; });
#endif
    return w.failed ? nullptr : w.buffers[w.next];
}

void SubmitBuffer(Writer& w, std::size_t bytes)
{
#if VORNISH_THREADS
    if (w.thread.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(w.mutex);
            w.pending[w.next] = bytes;
        }
        w.changed.notify_all();
        w.next ^= 1;
        return;
    }
#endif
    w.failed = w.failed || w.write(w.context, w.buffers[w.next], bytes) != 0;
}

bool StopWriter(Writer& w)
{
#if VORNISH_THREADS
    if (w.thread.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(w.mutex);
            w.stopping = true;
        }
        w.changed.notify_all();
        w.thread.join();
    }
#endif
    return !w.failed;
}

bool WriteNow(Writer& w, const void* bytes, std::size_t size)
{
    w.failed = w.failed || w.write(w.context, bytes, size) != 0;
    return !w.failed;
}

}  // namespace vornish
