// Where the rendered bytes go: the write function, fed one piece at a time
// from two sample buffers. With a writer thread one buffer is written while
// the next is decoded; without one each is written as soon as it is full.
#ifndef VORNISH_WRITER_H
#define VORNISH_WRITER_H

#include <cstddef>
#include <cstdint>

#include "VornishAudioBRR.h"

#include "base/shared.h"

#if VORNISH_THREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace vornish {

struct Writer {
    BRRWriteFunction write = nullptr;
    void* context = nullptr;
    std::int16_t* buffers[2] = {nullptr, nullptr};
    std::size_t pending[2] = {0, 0};  // bytes waiting to be written; 0: free
    int next = 0;                     // the buffer to fill next
    bool failed = false;
#if VORNISH_THREADS
    bool stopping = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
#endif
};

// Starts the writer thread, where there are threads; without one (or when
// none can be had) Submit writes inline.
void StartWriter(Writer& w);

// The buffer to decode the next piece into, once it is free; nullptr after a
// failed write.
std::int16_t* NextBuffer(Writer& w);

// Hands the buffer NextBuffer returned, now holding `bytes`, to be written.
void SubmitBuffer(Writer& w, std::size_t bytes);

// Waits for every buffer to be written and ends the thread; false if any
// write failed.
bool StopWriter(Writer& w);

// Writes bytes that are not samples (header, smpl chunk) once nothing else is
// pending; false on failure.
bool WriteNow(Writer& w, const void* bytes, std::size_t size);

}  // namespace vornish

#endif
