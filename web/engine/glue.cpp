// The engine's WebAssembly entry points that the C API cannot offer a
// page as they are: a scan's finds gathered into one array, and a WAV or
// samples gathered into one buffer (a page cannot hand the engine a
// callback cheaply, nor fill a struct by its layout). Everything else the
// page calls is the C API itself.
#include <emscripten.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "VornishAudioBRR.h"
#include "glue.h"

// Progress goes to the page as a message from the Worker, while the work
// itself still runs.
EM_JS(void, VornishPostProgress, (double done, double total), {
    self.postMessage({ progress: total > 0 ? done / total : 0 });
});

void VornishProgress(void*, std::uint64_t done, std::uint64_t total)
{
    VornishPostProgress(static_cast<double>(done), static_cast<double>(total));
}

namespace {

struct Gathered {
    std::vector<BRRFound> finds;
};

int Gather(void* context, const BRRFound* found)
{
    static_cast<Gathered*>(context)->finds.push_back(*found);
    return 0;
}

int Append(void* context, const void* bytes, std::size_t size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    out->insert(out->end(), static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + size);
    return 0;
}

// brrdecode's options: sample forms, the hardware's rules, 32000 Hz.
BRRConvertOptions ToolOptions(std::uint32_t rate, std::uint32_t loops, std::uint32_t play)
{
    BRRConvertOptions o;
    BRRConvertOptionsInitTool(&o);
    o.sampleRate = rate;
    o.loopCount = loops;
    o.play = play;
    return o;
}

// A copy of bytes in a malloc'd buffer for the page, which frees it.
template <typename T>
int Hand(const std::vector<T>& data, T** out, std::size_t* count)
{
    *count = data.size();
    *out = static_cast<T*>(std::malloc(sizeof(T) * (data.size() + 1)));
    if (*out == nullptr) {
        return BRR_STATUS_NO_MEMORY;
    }
    std::memcpy(*out, data.data(), sizeof(T) * data.size());
    return BRR_OK;
}

}  // namespace

extern "C" {

// Scans size bytes with the default options (memoryOffset: BRR_SCAN_AUTO
// unless >= 0), into a malloc'd array of BRRFound whose count goes to
// *count; the caller frees it. Returns a status.
int VornishScanAll(const std::uint8_t* data, std::size_t size, std::int32_t memoryOffset, BRRFound** finds,
                   std::size_t* count)
{
    if (finds == nullptr || count == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    BRRScanOptions options;
    BRRScanOptionsInit(&options);
    options.progress = VornishProgress;
    if (memoryOffset >= 0) {
        options.memoryOffset = memoryOffset;
    }
    Gathered gathered;
    const int status = BRRScan(data, size, &options, Gather, &gathered);
    const int handed = Hand(gathered.finds, finds, count);
    return status != BRR_OK ? status : handed;
}

// The WAV brrdecode writes for a sample with these options, into a
// malloc'd buffer.
int VornishConvert(const std::uint8_t* data, std::size_t size, std::uint32_t rate, std::uint32_t loops,
                   std::uint32_t play, std::uint8_t** wav, std::size_t* wavSize)
{
    if (wav == nullptr || wavSize == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    const BRRConvertOptions o = ToolOptions(rate, loops, play);
    std::vector<std::uint8_t> out;
    const int status = BRRConvertMemory(data, size, &o, Append, &out, nullptr);
    return status != BRR_OK ? status : Hand(out, wav, wavSize);
}

// The samples of that WAV, in a malloc'd buffer.
int VornishDecode(const std::uint8_t* data, std::size_t size, std::uint32_t rate, std::uint32_t loops,
                  std::uint32_t play, std::int16_t** samples, std::size_t* count)
{
    if (samples == nullptr || count == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    const BRRConvertOptions o = ToolOptions(rate, loops, play);
    std::uint64_t n = 0;
    int status = BRRDecodedSize(data, size, &o, &n);
    if (status != BRR_OK) {
        return status;
    }
    std::vector<std::int16_t> out(static_cast<std::size_t>(n));
    BRRConvertResult result;
    status = BRRDecodeToPCM(data, size, &o, out.data(), out.size(), &result);
    return status != BRR_OK ? status : Hand(out, samples, count);
}

// sizeof(BRRFound), for the page's reading of the array.
std::size_t VornishFoundSize() { return sizeof(BRRFound); }

}  // extern "C"

extern "C" {

// brrinsert --entry N (or --at OFFSET with entry -1): the image with the
// sample put in, in a malloc'd copy (the image itself is left as it is);
// facts[] = {offset, bytes, room, start, loop address, free range, shared
// entries, directory}, filled on a refusal too (room, bytes).
int VornishInsert(const std::uint8_t* image, std::size_t size, const std::uint8_t* sample, std::size_t sampleSize,
                  std::int32_t entry, double at, std::uint8_t** out, std::size_t* outSize, double* facts)
{
    if (out == nullptr || outSize == nullptr || facts == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    std::vector<std::uint8_t> copy(image, image + size);
    BRRInsertOptions o;
    BRRInsertOptionsInit(&o);
    o.entry = entry;
    o.at = entry >= 0 ? -1 : static_cast<std::int64_t>(at);
    BRRInsertResult r{};
    const int status = BRRInsert(copy.data(), copy.size(), sample, sampleSize, &o, &r);
    const double values[] = {static_cast<double>(r.offset), static_cast<double>(r.bytes), static_cast<double>(r.room),
                             static_cast<double>(r.start), static_cast<double>(r.loopAddress),
                             static_cast<double>(r.freeRange), static_cast<double>(r.sharedEntries),
                             static_cast<double>(r.directory)};
    std::memcpy(facts, values, sizeof values);
    return status != BRR_OK ? status : Hand(copy, out, outSize);
}

}  // extern "C"
