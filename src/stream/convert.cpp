// The conversion entry points of the C API: plan and render over a read
// function or memory, into a write function or a file; and their texts.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "VornishAudioBRRFile.h"
#include "render/loop_reports.h"
#include "render/playback.h"
#include "render/render.h"
#include "stream/source.h"

namespace {

const BRRConvertOptions* OrDefaults(const BRRConvertOptions* options, BRRConvertOptions* defaults)
{
    if (options != nullptr) {
        return options;
    }
    BRRConvertOptionsInit(defaults);
    return defaults;
}

vornish::Source CallbackSource(BRRReadFunction read, void* context)
{
    vornish::Source source;
    source.read = read;
    source.context = context;
    return source;
}

int RenderThrough(BRRReadFunction read, void* readContext, const BRRConvertOptions* options,
                  BRRWriteFunction write, void* writeContext, bool threaded, BRRConvertResult* result)
{
    if (read == nullptr || result == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    const vornish::Source source = CallbackSource(read, readContext);
    BRRConvertOptions defaults;
    return vornish::RenderSource(source, *OrDefaults(options, &defaults), write, writeContext, threaded,
                                 result);
}

}  // namespace

void BRRConvertOptionsInit(BRRConvertOptions* options)
{
    if (options == nullptr) {
        return;
    }
    *options = BRRConvertOptions{};
    options->loopCount = 1;
    options->sampleRate = BRR_DEFAULT_SAMPLE_RATE;
    options->rules = BRR_RULES_LIBRARY;
    options->writeSmpl = 1;
    options->loopStart = BRR_NO_LOOP_START;
    options->rootNote = BRR_ROOT_NOTE_AUTO;
}

int BRRPlan(BRRReadFunction read, void* context, std::uint64_t size,
            const BRRConvertOptions* options, BRRConvertResult* result)
{
    if (read == nullptr || result == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    BRRConvertOptions defaults;
    return vornish::PlanSource(CallbackSource(read, context), size, *OrDefaults(options, &defaults), result);
}

int BRRRender(BRRReadFunction read, void* readContext, const BRRConvertOptions* options,
              BRRWriteFunction write, void* writeContext, BRRConvertResult* result)
{
    return RenderThrough(read, readContext, options, write, writeContext, false, result);
}

namespace {

vornish::Source MemorySource(const std::uint8_t* data, std::size_t size)
{
    static const std::uint8_t kEmpty[1] = {0};
    vornish::Source source;
    source.memory = data != nullptr ? data : kEmpty;
    source.memorySize = size;
    return source;
}

}  // namespace

int BRRPlanMemory(const std::uint8_t* data, std::size_t size, const BRRConvertOptions* options,
                  BRRConvertResult* result)
{
    if ((data == nullptr && size > 0) || result == nullptr) {
        return BRR_STATUS_MISSING_PATH;
    }
    BRRConvertOptions defaults;
    return vornish::PlanSource(MemorySource(data, size), size, *OrDefaults(options, &defaults), result);
}

int BRRConvertMemory(const std::uint8_t* data, std::size_t size, const BRRConvertOptions* options,
                     BRRWriteFunction write, void* context, BRRConvertResult* result)
{
    BRRConvertResult own{};
    BRRConvertResult* plan = result != nullptr ? result : &own;
    const int status = BRRPlanMemory(data, size, options, plan);
    if (status != BRR_OK || write == nullptr) {
        return status != BRR_OK ? status : BRR_STATUS_MISSING_PATH;
    }
    BRRConvertOptions defaults;
    return vornish::RenderSource(MemorySource(data, size), *OrDefaults(options, &defaults), write,
                                 context, false, plan);
}

int BRRRenderToFile(BRRReadFunction read, void* readContext, const BRRConvertOptions* options,
                    BRRFile* output, BRRConvertResult* result)
{
    return output == nullptr ? BRR_STATUS_MISSING_PATH
                             : RenderThrough(read, readContext, options, BRRFileWrite, output, true, result);
}

const char* BRRStatusText(int status)
{
    switch (status) {
    case BRR_OK: return "success";
    case BRR_STATUS_BAD_SIZE: return "the input's size is not a multiple of 9 bytes";
    case BRR_STATUS_NO_BLOCKS: return "the input holds no block";
    case BRR_STATUS_TOO_LARGE: return "the WAV would be too large for its 32-bit sizes";
    case BRR_STATUS_NO_MEMORY: return "not enough memory";
    case BRR_STATUS_READ_ERROR: return "the input could not be read";
    case BRR_STATUS_WRITE_ERROR: return "the output could not be written";
    case BRR_STATUS_INVALID_ARGUMENT: return "a required pointer is missing, or the plan is not the options' own";
    case BRR_STATUS_BAD_LOOP_COUNT: return "the loop count is outside 1 to 3200";
    case BRR_STATUS_BAD_LOOP_START: return "the loop start is not a block of the sample";
    case BRR_STATUS_BAD_LOOP_HEADER: return "the loop header is not a block offset inside the sample";
    case BRR_STATUS_SMALL_BUFFER: return "the output buffer is too small for the encoded blocks";
    case BRR_STATUS_BAD_OPTION: return "an option is outside its documented range";
    case BRR_STATUS_NO_ROOM: return "the sample fits neither its old place nor a free range";
    case BRR_STATUS_OVERLAPS_DIRECTORY: return "the place would overlap the directory";
    case BRR_STATUS_OVERLAPS_SAMPLE: return "the place would overlap another entry's sample";
    case BRR_STATUS_OVERLAPS_ECHO: return "the place would overlap the echo buffer";
    case BRR_STATUS_NO_END_BLOCK: return "the sample's last block has no end flag";
    case BRR_STATUS_NO_SUCH_ENTRY: return "the directory entry names no sample";
    case BRR_STATUS_NOT_A_DUMP: return "the data is no music-state dump";
    case BRR_STATUS_NOT_NUMBERS: return "the audio holds values that are not numbers (NaN)";
    case BRR_STATUS_RESAMPLE_FAILED: return "the audio could not be resampled";
    case 999: return "done (the exported BRRDecode's success)";
    default: return "unknown status";
    }
}

const char* BRRNoteName(int index)
{
    return index >= 0 && index < 12 ? vornish::NoteNames[index] : nullptr;
}

const char* BRRVersion(void) { return VORNISH_BRR_VERSION; }

int BRRVersionNumber(void) { return BRR_VERSION_NUMBER; }

namespace {

// Indexed by the BRR_RULES_* and BRR_EFFORT_* values; the checks of every
// option take the valid values from these.
static_assert(BRR_RULES_LIBRARY == 0 && BRR_RULES_HARDWARE == 1, "rule names");
static_assert(BRR_EFFORT_FAST == 0 && BRR_EFFORT_DEFAULT == 1 && BRR_EFFORT_BEST == 2, "effort names");
const char* const kRulesNames[] = {"library", "hardware"};
const char* const kEffortNames[] = {"fast", "default", "best"};

template <std::size_t N>
int ByName(const char* const (&names)[N], const char* name)
{
    for (std::size_t i = 0; name != nullptr && i < N; ++i) {
        if (std::strcmp(names[i], name) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

const char* BRRRulesName(int rules) { return rules == 0 || rules == 1 ? kRulesNames[rules] : nullptr; }

const char* BRREffortName(int effort) { return effort >= 0 && effort < 3 ? kEffortNames[effort] : nullptr; }

int BRRRulesByName(const char* name) { return ByName(kRulesNames, name); }

int BRREffortByName(const char* name) { return ByName(kEffortNames, name); }

const std::int16_t* BRRInterpolationTable(void) { return vornish::kInterpolation; }
