// A sample in memory to 16-bit samples in the caller's buffer, in one call:
// the conversion's WAV stream with its header and smpl chunk left out, the
// samples in the host's byte order. And the tool's defaults.
#include <cstdint>
#include <cstring>

#include "VornishAudioBRR.h"

namespace {

// Takes the WAV stream's sample bytes, [BRR_WAV_HEADER_SIZE, + 2 * count).
struct Samples {
    std::int16_t* to;
    std::uint64_t count;
    std::uint64_t at = 0;  // bytes of the stream seen so far
};

int TakeSamples(void* context, const void* bytes, std::size_t size)
{
    auto* s = static_cast<Samples*>(context);
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    const std::uint64_t first = BRR_WAV_HEADER_SIZE;
    const std::uint64_t from = s->at > first ? s->at : first;
    const std::uint64_t end = first + 2 * s->count;
    const std::uint64_t to = s->at + size < end ? s->at + size : end;
    // The header and the pieces are whole writes of even sizes: no sample
    // straddles two.
    for (std::uint64_t b = from; b + 2 <= to; b += 2) {
        const auto i = static_cast<std::size_t>(b - s->at);
        s->to[(b - first) / 2] = static_cast<std::int16_t>(in[i] | (in[i + 1] << 8));
    }
    s->at += size;
    return 0;
}

}  // namespace

extern "C" {

VORNISH_BRR_API void BRRConvertOptionsInitTool(BRRConvertOptions* options)
{
    if (options == nullptr) {
        return;
    }
    BRRConvertOptionsInit(options);
    options->sampleForms = 1;
    options->rules = BRR_RULES_HARDWARE;
    options->sampleRate = BRR_PLAYBACK_RATE;
}

VORNISH_BRR_API int BRRDecodedSize(const std::uint8_t* data, std::size_t size, const BRRConvertOptions* options,
                                   std::uint64_t* count)
{
    if (count == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    BRRConvertResult plan;
    const int status = BRRPlanMemory(data, size, options, &plan);
    *count = status == BRR_OK ? plan.sampleCount : 0;
    return status;
}

VORNISH_BRR_API int BRRDecodeToPCM(const std::uint8_t* data, std::size_t size, const BRRConvertOptions* options,
                                   std::int16_t* samples, std::size_t capacity, BRRConvertResult* result)
{
    BRRConvertResult own{};
    BRRConvertResult* plan = result != nullptr ? result : &own;
    const int status = BRRPlanMemory(data, size, options, plan);
    if (status != BRR_OK) {
        return status;
    }
    if (samples == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    if (capacity < plan->sampleCount) {
        return BRR_STATUS_SMALL_BUFFER;
    }
    Samples s{samples, plan->sampleCount};
    return BRRConvertMemory(data, size, options, TakeSamples, &s, plan);
}

}  // extern "C"
