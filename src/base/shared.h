// What the engine's parts share: whether the platform has threads, and the
// check of the reserved fields a caller must leave zero.
#ifndef VORNISH_BASE_SHARED_H
#define VORNISH_BASE_SHARED_H

#include <cstddef>

// MinGW's default (win32) thread model has no std::thread, and a
// WebAssembly build without shared memory has no threads at all.
#if defined(_WIN32) || (defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__))
#define VORNISH_THREADS 0
#else
#define VORNISH_THREADS 1
#endif

namespace vornish {

// Whether every reserved field is zero, as the header asks.
template <typename Field, std::size_t N>
bool AllZero(const Field (&fields)[N])
{
    for (const Field& f : fields) {
        if (f != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace vornish

#endif
