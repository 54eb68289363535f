// The encoder's public entry points: options checked, the loop header and
// the end block's flags written around the search (encoder.h).
#include "VornishAudioBRR.h"
#include "base/shared.h"
#include "encode/encoder.h"
#include "encode/seam.h"

void BRREncodeOptionsInit(BRREncodeOptions* options)
{
    if (options == nullptr) {
        return;
    }
    *options = BRREncodeOptions{};
    options->loopStart = BRR_NO_LOOP_START;
    options->effort = BRR_EFFORT_DEFAULT;
    options->rules = BRR_RULES_HARDWARE;
    options->resetFilter = 1;
    options->safeRange = 1;
}

namespace {

int CheckEncode(std::size_t count, const BRREncodeOptions& o, std::size_t capacity)
{
    if (count == 0) {
        return BRR_STATUS_NO_BLOCKS;
    }
    const std::uint64_t blocks = (static_cast<std::uint64_t>(count) + 15) / 16;
    if (blocks > (BRR_MAX_INPUT_SIZE - BRR_LOOP_HEADER_SIZE) / BRR_BLOCK_SIZE) {
        return BRR_STATUS_TOO_LARGE;
    }
    if (o.loopStart != BRR_NO_LOOP_START &&
        (o.loopStart < 0 || o.loopStart % BRR_SAMPLES_PER_BLOCK != 0 ||
         static_cast<std::uint64_t>(o.loopStart) >= count)) {
        return BRR_STATUS_BAD_LOOP_START;
    }
    const bool reserved = o.reserved0 != 0 || !vornish::AllZero(o.reserved);
    // A loop of whole blocks only: padding it with silence would put a gap
    // into every pass.
    if (BRREffortName(o.effort) == nullptr || BRRRulesName(o.rules) == nullptr || reserved ||
        (o.loopStart != BRR_NO_LOOP_START &&
         (static_cast<std::uint64_t>(count) - static_cast<std::uint64_t>(o.loopStart)) % BRR_SAMPLES_PER_BLOCK != 0)) {
        return BRR_STATUS_BAD_OPTION;
    }
    if (o.loopHeader != 0 && o.loopStart != BRR_NO_LOOP_START &&
        static_cast<std::uint64_t>(o.loopStart) / BRR_SAMPLES_PER_BLOCK * BRR_BLOCK_SIZE > 0xFFFF) {
        return BRR_STATUS_BAD_LOOP_HEADER;
    }
    const std::uint64_t header = o.loopHeader != 0 ? BRR_LOOP_HEADER_SIZE : 0;
    return capacity < header + blocks * BRR_BLOCK_SIZE ? BRR_STATUS_SMALL_BUFFER : BRR_OK;
}

}  // namespace

int BRREncode(const std::int16_t* pcm, std::size_t count, const BRREncodeOptions* options,
              std::uint8_t* blocks, std::size_t capacity, BRREncodeResult* result)
{
    BRREncodeOptions defaults;
    BRREncodeOptionsInit(&defaults);
    const BRREncodeOptions& o = options != nullptr ? *options : defaults;
    if (count > 0 && (pcm == nullptr || blocks == nullptr)) {
        return BRR_STATUS_MISSING_PATH;
    }
    const int status = CheckEncode(count, o, capacity);
    if (status != BRR_OK) {
        return status;
    }
    using namespace vornish::encode;
    const bool safe = o.safeRange != 0;
    Job job{};
    job.pcm = pcm;
    job.count = count;
    job.rules = DecodeRules{o.rules == BRR_RULES_HARDWARE, safe ? BRR_SAFE_MIN : -16384, safe ? BRR_SAFE_MAX : 16383};
    job.effort = o.effort;
    job.loopBlock = o.loopStart == BRR_NO_LOOP_START ? -1 : o.loopStart / BRR_SAMPLES_PER_BLOCK;
    job.reset = o.resetFilter != 0;
    job.progress = o.progress;
    job.progressContext = o.progressContext;
    const bool looped = o.loopStart != BRR_NO_LOOP_START;
    if (o.loopHeader != 0) {
        const std::uint64_t offset =
            looped ? static_cast<std::uint64_t>(o.loopStart) / BRR_SAMPLES_PER_BLOCK * BRR_BLOCK_SIZE : 0;
        blocks[0] = static_cast<std::uint8_t>(offset & 0xFF);
        blocks[1] = static_cast<std::uint8_t>(offset >> 8);
        blocks += BRR_LOOP_HEADER_SIZE;
    }
    const std::uint64_t blockCount = (static_cast<std::uint64_t>(count) + 15) / 16;
    const std::uint64_t error = EncodeBlocks(job, blockCount, blocks);
    blocks[static_cast<std::size_t>(blockCount - 1) * BRR_BLOCK_SIZE] |=
        static_cast<std::uint8_t>(BRR_END_FLAG | (looped ? BRR_LOOP_FLAG : 0));
    if (result != nullptr) {
        std::uint64_t energy = 0;
        for (std::size_t i = 0; i < count; ++i) {
            energy += static_cast<std::uint64_t>(std::int64_t{pcm[i]} * pcm[i]);
        }
        *result = BRREncodeResult{};
        result->blockCount = blockCount;
        result->loopBlock = looped ? o.loopStart / BRR_SAMPLES_PER_BLOCK : BRR_NO_LOOP_START;
        result->squaredError = error;
        result->signalEnergy = energy;
        result->loopSeam = LoopSeamOfBlocks(blocks, blockCount, looped ? o.loopStart / BRR_SAMPLES_PER_BLOCK : -1, o.rules);
    }
    return BRR_OK;
}
