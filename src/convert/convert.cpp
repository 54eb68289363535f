// Conversion entry.
//
// Order of events for one conversion:
//   open and measure the input; work out what it holds (size check, loop
//   header, end flag, loop start, total blocks) and print the block count;
//   open the output without truncating it, and only then truncate it, once it
//   is known not to be the input; write the WAV header, then decode and write
//   the samples chunk by chunk through one small working buffer, pass after
//   pass; write the `smpl` chunk, if any; close; print the loop reports and
//   "Done !". A failure after the output was opened removes it (a regular
//   file of this conversion's making only).
//
// Nothing here grows with the input or the loop count: every size is known
// before the first byte is written, and the samples of one chunk are written
// before the next chunk is read.
#include "convert/convert.h"

#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>

#include "VornishAudioBRRDecoder.h"
#include "brr/brr_decoder.h"
#include "report/loop_reports.h"
#include "wav/wav_writer.h"

// MinGW's default (win32) thread model has no std::thread.
#if defined(_WIN32)
#define VORNISH_WRITER_THREAD 0
#else
#define VORNISH_WRITER_THREAD 1
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace vornish {
namespace {

// Blocks per chunk: 144 KiB read, 512 KiB of samples written at a time.
constexpr std::size_t kChunkBlocks = 16384;

void PrintErr(const char* format, ...)
{
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

// What the input holds and what the WAV will hold, worked out before anything
// is written.
struct Plan {
    std::uint64_t dataOffset = 0;  // 2 behind a loop header
    std::uint64_t blockCount = 0;  // B: the blocks of one play-through
    std::uint64_t repeatFrom = 0;  // the loop start: the first block of every later pass
    std::uint64_t totalBlocks = 0;
    bool smpl = false;
};

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size)
{
    return SeekFile(fd, offset) && ReadFully(fd, buffer, size);
}

// The index of the first block whose end flag is set, or `blockCount` when none
// is. Reads only as far as that block.
bool FindEndBlock(int fd, const Plan& plan, std::uint8_t* chunk, std::size_t chunkBlocks,
                  std::uint64_t* endBlock)
{
    if (!SeekFile(fd, plan.dataOffset)) {
        return false;
    }
    for (std::uint64_t first = 0; first < plan.blockCount; first += chunkBlocks) {
        const std::uint64_t left = plan.blockCount - first;
        const std::size_t n = left < chunkBlocks ? static_cast<std::size_t>(left) : chunkBlocks;
        if (!ReadFully(fd, chunk, n * kBRRBlockSize)) {
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if ((chunk[i * kBRRBlockSize] & kBRREndFlag) != 0) {
                *endBlock = first + i;
                return true;
            }
        }
    }
    *endBlock = plan.blockCount;
    return true;
}

// Works out `plan` and prints the lines that come before the samples. Returns
// BRR_STATUS_DONE to go on, or the status of the error it printed.
std::int32_t MakePlan(int in, std::uint64_t size, const char* inputName,
                      const ConvertOptions& options, std::uint8_t* chunk, std::size_t chunkBlocks,
                      Plan& plan)
{
    const bool headered =
        options.sampleForms && !options.noHeader && size % kBRRBlockSize == 2;
    if (!headered && size % kBRRBlockSize != 0) {
        PrintErr("Error : Size of BRR file %s isn't a multiple of 9 bytes.\n", inputName);
        return BRR_STATUS_BAD_SIZE;
    }
    std::uint8_t loopHeader[2] = {0, 0};
    if (headered) {
        plan.dataOffset = 2;
        if (!ReadAt(in, 0, loopHeader, 2)) {
            PrintErr("Error : Can't read BRR file %s.\n", inputName);
            return BRR_STATUS_READ_ERROR;
        }
    }
    plan.blockCount = (size - plan.dataOffset) / kBRRBlockSize;

    bool loopFlags = false;  // the last block decoded has both the end and the loop flag
    if (options.sampleForms && plan.blockCount > 0) {
        std::uint64_t endBlock = 0;
        if (!FindEndBlock(in, plan, chunk, chunkBlocks, &endBlock)) {
            PrintErr("Error : Can't read BRR file %s.\n", inputName);
            return BRR_STATUS_READ_ERROR;
        }
        if (endBlock + 1 < plan.blockCount && options.stopAtEnd) {
            plan.blockCount = endBlock + 1;
        } else if (endBlock + 1 < plan.blockCount) {
            PrintErr("Warning : %s has %" PRIu64
                     " blocks after its end block; --stop-at-end leaves them out.\n",
                     inputName, plan.blockCount - 1 - endBlock);
        }
        std::uint8_t lastHeader = 0;
        if (!ReadAt(in, plan.dataOffset + (plan.blockCount - 1) * kBRRBlockSize, &lastHeader, 1)) {
            PrintErr("Error : Can't read BRR file %s.\n", inputName);
            return BRR_STATUS_READ_ERROR;
        }
        loopFlags = (lastHeader & (kBRREndFlag | kBRRLoopFlag)) == (kBRREndFlag | kBRRLoopFlag);
    }
    std::int64_t loopStart = options.loopStart;
    if (loopStart == kNoLoopStart && headered) {
        const std::uint32_t offset = loopHeader[0] | static_cast<std::uint32_t>(loopHeader[1]) << 8u;
        if (offset % kBRRBlockSize == 0 && offset / kBRRBlockSize < plan.blockCount) {
            loopStart = static_cast<std::int64_t>(offset / kBRRBlockSize);
        } else {
            PrintErr("Warning : Loop header of %s points outside the sample; ignored.\n", inputName);
        }
    }

    PrintTo(options.progress, "Number of BRR blocks to decode : %" PRIu64 ".\n", plan.blockCount);
    if (plan.blockCount == 0) {
        PrintErr("Error : Loop position is out of range\n");
        return BRR_STATUS_NO_BLOCKS;
    }
    if (loopStart >= 0 && static_cast<std::uint64_t>(loopStart) >= plan.blockCount) {
        PrintErr("Error : Loop start %" PRId64 " is outside %s (%" PRIu64 " blocks).\n", loopStart,
                 inputName, plan.blockCount);
        return kStatusBadLoopStart;
    }
    if (loopStart >= 0) {
        PrintTo(options.progress, "Loop start : block %" PRId64 ".\n", loopStart);
        plan.repeatFrom = static_cast<std::uint64_t>(loopStart);
    }
    plan.smpl = options.sampleForms && options.writeSmpl && loopStart >= 0 &&
                (options.loopStart != kNoLoopStart || loopFlags);

    // B is checked alone first so that the product cannot overflow.
    const std::uint64_t maxBlocks = WavMaxBlockCount(plan.smpl ? kSmplChunkSize : 0);
    const std::uint64_t repeats = options.loopCount - 1u;
    const std::uint64_t loopBlocks = plan.blockCount - plan.repeatFrom;
    if (plan.blockCount > maxBlocks ||
        (loopBlocks > 0 && repeats > (maxBlocks - plan.blockCount) / loopBlocks)) {
        PrintErr("Error : BRR file %s is too large to convert.\n", inputName);
        return BRR_STATUS_TOO_LARGE;
    }
    plan.totalBlocks = plan.blockCount + repeats * loopBlocks;
    return BRR_STATUS_DONE;
}

// Two sample buffers: one is decoded into while the other is written. Where
// the C++ runtime has threads a writer thread writes them; elsewhere (the
// Windows DLL) each buffer is written as soon as it is full. The thread lives
// only as long as the conversion.
struct Writer {
    int fd = -1;
    std::int16_t* buffers[2] = {nullptr, nullptr};
    std::size_t pending[2] = {0, 0};  // bytes waiting to be written; 0: free
    int next = 0;                     // the buffer to fill next
    bool failed = false;
#if VORNISH_WRITER_THREAD
    bool stopping = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
#endif
};

#if VORNISH_WRITER_THREAD
void WriterLoop(Writer& w)
{
    std::unique_lock<std::mutex> lock(w.mutex);
    for (int i = 0;; i ^= 1) {
        w.changed.wait(lock, [&] { return w.pending[i] != 0 || w.stopping; });
        if (w.pending[i] == 0) {
            return;
        }
        lock.unlock();
        const bool ok = WriteFully(w.fd, w.buffers[i], w.pending[i]);
        lock.lock();
        w.failed = w.failed || !ok;
        w.pending[i] = 0;
        w.changed.notify_all();
    }
}
#endif

void StartWriter(Writer& w)
{
#if VORNISH_WRITER_THREAD
    try {
        w.thread = std::thread(WriterLoop, std::ref(w));
    } catch (const std::system_error&) {
        // No thread to be had: the buffers are written inline instead.
    }
#else
    (void)w;
#endif
}

// The buffer to decode the next chunk into, once it is free; nullptr after a
// failed write.
std::int16_t* NextBuffer(Writer& w)
{
#if VORNISH_WRITER_THREAD
    std::unique_lock<std::mutex> lock(w.mutex);
    w.changed.wait(lock, [&] { return w.pending[w.next] == 0; });
#endif
    return w.failed ? nullptr : w.buffers[w.next];
}

void SubmitBuffer(Writer& w, std::size_t bytes)
{
#if VORNISH_WRITER_THREAD
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
    w.failed = w.failed || !WriteFully(w.fd, w.buffers[w.next], bytes);
}

// Waits for every buffer to be written; false if any write failed.
bool StopWriter(Writer& w)
{
#if VORNISH_WRITER_THREAD
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

// Blocks in, samples out, one chunk at a time.
struct Stream {
    int in = -1;
    const std::uint8_t* memory = nullptr;  // the whole input, when it was read ahead
    std::uint64_t dataOffset = 0;
    std::uint8_t* blocks = nullptr;
    std::size_t chunkBlocks = 0;
    Writer writer;
    BRRHistory history{0, 0};
    bool readFailed = false;
};

// Decodes and writes blocks first..first+count-1; `record`, when given,
// receives the first two samples.
bool StreamBlocks(Stream& s, std::uint64_t first, std::uint64_t count, std::int16_t* record)
{
    const std::uint8_t* from = nullptr;
    if (s.memory != nullptr) {
        from = s.memory + s.dataOffset + first * kBRRBlockSize;
    } else if (!SeekFile(s.in, s.dataOffset + first * kBRRBlockSize)) {
        s.readFailed = true;
        return false;
    }
    while (count > 0) {
        const std::size_t n = count < s.chunkBlocks ? static_cast<std::size_t>(count) : s.chunkBlocks;
        const std::uint8_t* blocks = from;
        if (from != nullptr) {
            from += n * kBRRBlockSize;
        } else if (ReadFully(s.in, s.blocks, n * kBRRBlockSize)) {
            blocks = s.blocks;
        } else {
            s.readFailed = true;
            return false;
        }
        std::int16_t* samples = NextBuffer(s.writer);
        if (samples == nullptr) {
            return false;
        }
        BRRDecodeBlocks(s.history, blocks, n, samples);
        if (record != nullptr) {
            record[0] = samples[0];
            record[1] = samples[1];
            record = nullptr;
        }
        StoreSamplesLittleEndian(samples, n * kBRRSamplesPerBlock);
        SubmitBuffer(s.writer, n * kBRRSamplesPerBlock * sizeof(std::int16_t));
        count -= n;
    }
    return true;
}

// The first two samples of the loop in every pass, for the loop reports.
struct LoopStartRecord {
    std::int16_t firsts[kMaxLoopCount];
    std::int16_t seconds[kMaxLoopCount];
};

// Writes the whole WAV: header, every pass, `smpl` chunk.
bool WriteWav(Stream& s, const Plan& plan, const ConvertOptions& options, LoopStartRecord& record)
{
    std::uint8_t header[kWavHeaderSize];
    const std::uint32_t total = static_cast<std::uint32_t>(plan.totalBlocks);
    MakeWavHeader(header, options.sampleRate, total, plan.smpl ? kSmplChunkSize : 0);
    if (!WriteFully(s.writer.fd, header, sizeof header)) {
        return false;
    }
    // Pass 0 plays every block; the loop's record is taken where it starts.
    const std::uint64_t loopBlocks = plan.blockCount - plan.repeatFrom;
    std::int16_t pair[2] = {0, 0};
    if (plan.totalBlocks > s.chunkBlocks) {
        StartWriter(s.writer);  // one chunk has nothing to overlap with
    }
    bool ok = plan.repeatFrom == 0 || StreamBlocks(s, 0, plan.repeatFrom, nullptr);
    for (std::uint32_t pass = 0; ok && pass < options.loopCount; ++pass) {
        ok = StreamBlocks(s, plan.repeatFrom, loopBlocks, pair);
        record.firsts[pass] = pair[0];
        record.seconds[pass] = pair[1];
    }
    ok = StopWriter(s.writer) && ok;
    if (ok && plan.smpl) {
        // The loop is the last pass over it; it ends with the file.
        const std::uint64_t lastPass = plan.totalBlocks - loopBlocks;
        std::uint8_t chunk[kSmplChunkSize];
        MakeSmplChunk(chunk, options.sampleRate,
                      static_cast<std::uint32_t>(lastPass * kBRRSamplesPerBlock),
                      static_cast<std::uint32_t>(plan.totalBlocks * kBRRSamplesPerBlock - 1));
        ok = WriteFully(s.writer.fd, chunk, sizeof chunk);
    }
    return ok;
}

void PrintOpenError(const ConvertOptions& options, const char* path, int error, bool input)
{
    if (options.toolMessages) {
        PrintErr("brrdecode: %s: %s\n", path, OpenErrorText(error));
    } else if (input) {
        PrintErr("No such file : %s\n", path);
    } else {
        PrintErr("Can't open file %s for writing.\n", path);
    }
}

// Opens the output (unless it is open already) and truncates it, once it is
// known not to be the input. When it is the input and that is allowed, the
// input is read whole into `*inputCopy` first.
std::int32_t OpenOutputFor(const FilePath& output, const FilePath& input,
                           const FileIdentity& inputIdentity, std::uint64_t inputSize, int in,
                           const ConvertOptions& options, int* out, FileIdentity* identity,
                           std::uint8_t** inputCopy)
{
    if (output.fd >= 0) {
        *out = output.fd;
        return BRR_STATUS_DONE;
    }
    int error = 0;
    *out = OpenOutput(output, !options.replaceOutput, identity, &error);
    if (*out < 0) {
        PrintOpenError(options, output.text, error, false);
        return kStatusOutputOpenFailed;
    }
    if (identity->regular && SameFile(*identity, inputIdentity)) {
        if (options.refuseInputAsOutput) {
            PrintErr("brrdecode: %s: is the input file %s itself; choose another output\n",
                     output.text, input.text);
            CloseFile(*out);
            return kStatusOutputOpenFailed;
        }
        *inputCopy = inputSize <= SIZE_MAX ? static_cast<std::uint8_t*>(
                                                 std::malloc(static_cast<std::size_t>(inputSize)))
                                           : nullptr;
        if (*inputCopy == nullptr) {
            PrintErr("Error : Not enough memory to decode %s.\n", input.text);
            CloseFile(*out);
            return BRR_STATUS_NO_MEMORY;
        }
        if (!ReadAt(in, 0, *inputCopy, static_cast<std::size_t>(inputSize))) {
            PrintErr("Error : Can't read BRR file %s.\n", input.text);
            CloseFile(*out);
            return BRR_STATUS_READ_ERROR;
        }
        identity->regular = false;  // never removed: it is the input
    }
    if ((identity->regular || *inputCopy != nullptr) && !TruncateFile(*out)) {
        PrintErr("Error : Can't write file %s.\n", output.text);
        CloseFile(*out);
        RemovePartialOutput(output, *identity);
        return BRR_STATUS_WRITE_ERROR;
    }
    if (options.active != nullptr && identity->regular) {
        options.active->path = output;
        options.active->identity = *identity;
        std::atomic_signal_fence(std::memory_order_seq_cst);  // both set before a handler can look
        options.active->armed = 1;
    }
    return BRR_STATUS_DONE;
}

std::int32_t ConvertOpenInput(int in, std::uint64_t size, const FileIdentity& inputIdentity,
                              const FilePath& input, const FilePath& output,
                              const ConvertOptions& options)
{
    Stream s;
    s.in = in;
    s.chunkBlocks = options.chunkBlocks != 0 ? options.chunkBlocks : kChunkBlocks;
    const std::size_t sampleBytes = s.chunkBlocks * kBRRSamplesPerBlock * sizeof(std::int16_t);
    s.blocks = static_cast<std::uint8_t*>(std::malloc(s.chunkBlocks * kBRRBlockSize));
    s.writer.buffers[0] = static_cast<std::int16_t*>(std::malloc(sampleBytes));
    s.writer.buffers[1] = static_cast<std::int16_t*>(std::malloc(sampleBytes));
    auto* record = static_cast<LoopStartRecord*>(std::malloc(sizeof(LoopStartRecord)));
    std::uint8_t* inputCopy = nullptr;
    std::int32_t status = BRR_STATUS_DONE;
    Plan plan;
    FileIdentity outputIdentity;
    if (s.blocks == nullptr || s.writer.buffers[0] == nullptr || s.writer.buffers[1] == nullptr ||
        record == nullptr) {
        PrintErr("Error : Not enough memory to decode %s.\n", input.text);
        status = BRR_STATUS_NO_MEMORY;
    }
    if (status == BRR_STATUS_DONE) {
        status = MakePlan(in, size, input.text, options, s.blocks, s.chunkBlocks, plan);
    }
    if (status == BRR_STATUS_DONE) {
        status = OpenOutputFor(output, input, inputIdentity, size, in, options, &s.writer.fd,
                               &outputIdentity, &inputCopy);
    }
    if (status == BRR_STATUS_DONE) {
        s.memory = inputCopy;
        s.dataOffset = plan.dataOffset;
        bool written = WriteWav(s, plan, options, *record);
        if (output.fd < 0) {
            written = CloseFile(s.writer.fd) && written;
        }
        if (!written) {
            RemovePartialOutput(output, outputIdentity);
            if (s.readFailed) {
                PrintErr("Error : Can't read BRR file %s.\n", input.text);
                status = BRR_STATUS_READ_ERROR;
            } else {
                PrintErr("Error : Can't write file %s.\n", output.text);
                status = BRR_STATUS_WRITE_ERROR;
            }
        }
        if (options.active != nullptr) {
            options.active->armed = 0;
        }
    }
    if (status == BRR_STATUS_DONE) {
        if (options.loopCount > 1) {
            ReportProbableNote(options.progress,
                               static_cast<std::uint32_t>(plan.blockCount - plan.repeatFrom),
                               options.sampleRate);
        }
        ReportLoopStability(options.progress, options.loopCount, record->firsts, record->seconds);
        PrintTo(options.progress, "Done !\n");
    }
    std::free(inputCopy);
    std::free(record);
    std::free(s.writer.buffers[1]);
    std::free(s.writer.buffers[0]);
    std::free(s.blocks);
    return status;
}

}  // namespace

// Progress lines are flushed at once, so that they keep their order with the
// error lines and reach the console even if the host's runtime buffers its
// own standard output separately.
void PrintTo(std::FILE* stream, const char* format, ...)
{
    if (stream == nullptr) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

std::int32_t BRRConvert(const FilePath& input, const FilePath& output,
                        const ConvertOptions& options)
{
    if (input.text == nullptr || output.text == nullptr) {
        PrintErr("Error : Missing file path.\n");
        return BRR_STATUS_MISSING_PATH;
    }
    if (options.loopCount < 1 || options.loopCount > kMaxLoopCount) {
        PrintErr("Error : Loop count %u is out of range (1 to %u).\n", options.loopCount,
                 kMaxLoopCount);
        return kStatusBadLoopCount;
    }
    std::uint64_t size = 0;
    FileIdentity identity;
    int error = 0;
    int in = input.fd;
    const bool opened = in >= 0 ? MeasureInput(in, &size, &identity, &error)
                                : (in = OpenInput(input, &size, &identity, &error)) >= 0;
    if (!opened) {
        PrintOpenError(options, input.text, error, true);
        return kStatusInputOpenFailed;
    }
    const std::int32_t status = ConvertOpenInput(in, size, identity, input, output, options);
    if (input.fd < 0) {
        CloseFile(in);
    }
    return status;
}

std::int32_t BRRConvertFile(const char* inputPath, const char* outputPath,
                            const ConvertOptions& options)
{
    FilePath input;
    input.text = inputPath;
    FilePath output;
    output.text = outputPath;
    return BRRConvert(input, output, options);
}

}  // namespace vornish
