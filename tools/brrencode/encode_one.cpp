// One INPUT to one BRR file: read, shape, encode (the library), then write
// the blocks whole or not at all, never over a file without -f, never over
// the input.

#include <cinttypes>
#include <cmath>
#include <limits>

#include "brrencode.h"

namespace brrencode {
namespace {

// Writes the bytes and puts the output in place; true when it is whole.
bool WriteOut(const Options& options, const Names& names, const BRRFile& input,
              const std::vector<std::uint8_t>& bytes)
{
    BRRFile output;
    return OpenOutput(options.force, names, input, "BRR", &output) &&
           WriteAndPlace(&output, !names.toStandardOutput, names.output, bytes.data(), bytes.size());
}

// The pitch register value that plays `rate` Hz at the hardware's rate,
// clamped to what the register holds.
std::uint32_t PitchFor(double rate, bool& clamped)
{
    const double pitch = std::round(rate * BRR_PITCH_ONE / BRR_PLAYBACK_RATE);
    clamped = pitch < 1 || pitch > BRR_MAX_PITCH;
    return static_cast<std::uint32_t>(std::fmin(BRR_MAX_PITCH, std::fmax(1, pitch)));
}

// The rate the blocks were made for, and the pitch that plays them at it
// (and C4 of the sample, when its root note is known): a block file keeps
// neither.
void ReportRate(const Options& options, const std::string& in, double rate, double rootNote)
{
    const double whole = std::round(rate);
    if (std::fabs(rate - whole) < 0.005) {
        PrintTo(options.progress, "Rate : %.0f Hz.\n", whole);
    } else {
        PrintTo(options.progress, "Rate : %.2f Hz.\n", rate);
    }
    bool clamped = false;
    const std::uint32_t pitch = PitchFor(rate, clamped);
    if (clamped) {
        PrintError("Warning : %s at %.2f Hz needs a pitch outside 0x0001..0x3FFF; 0x%04X is the nearest.\n",
                   in.c_str(), rate, pitch);
    }
    PrintTo(options.progress, "Pitch : 0x%04X.\n", pitch);
    if (rootNote >= 0) {
        const std::uint32_t c4 = PitchFor(rate * std::exp2((60.0 - rootNote) / 12.0), clamped);
        PrintTo(options.progress, "Pitch for C4 : 0x%04X%s.\n", c4, clamped ? " (clamped)" : "");
    }
}

void Report(const Options& options, const std::string& in, double rate, double rootNote,
            const BRREncodeResult& result)
{
    PrintTo(options.progress, "Number of BRR blocks written : %" PRIu64 ".\n", result.blockCount);
    const double snr = result.squaredError == 0 ? std::numeric_limits<double>::infinity()
                       : 10.0 * std::log10(static_cast<double>(result.signalEnergy) /
                                           static_cast<double>(result.squaredError));
    PrintTo(options.progress, "SNR : %.2f dB.\n", snr);
    if (result.loopBlock >= 0) {
        PrintTo(options.progress, "Loop start : block %" PRId64 ".\n", result.loopBlock);
        PrintTo(options.progress, "Loop seam : %.2f dB.\n", result.loopSeam);
    }
    ReportRate(options, in, rate, rootNote);
}

// The loop header: the plan has it whenever the sample loops, unless
// --no-loop-header, or unless the loop lies past what the header holds
// (plain blocks then, with a warning; an error if --loop-header asked).
bool LoopHeader(const Options& options, const char* in, const BRRShapePlan& plan)
{
    if (plan.loopStart == BRR_NO_LOOP_START || options.noLoopHeader || plan.loopHeader != 0) {
        return true;
    }
    const std::uint64_t offset = static_cast<std::uint64_t>(plan.loopStart) / 16 * BRR_BLOCK_SIZE;
    if (options.askedLoopHeader) {
        PrintError("Error : Loop start of %s (byte %" PRIu64 ") does not fit a 2-byte loop header.\n", in, offset);
        return false;
    }
    PrintError("Warning : Loop start of %s (byte %" PRIu64 ") does not fit a 2-byte loop header; plain blocks "
               "written, loop start block %" PRId64 ".\n", in, offset, plan.loopStart / 16);
    return true;
}

BRRShapeOptions ShapeOptions(const Signal& signal, const Options& options)
{
    BRRShapeOptions o;
    BRRShapeOptionsInit(&o);
    o.inputRate = signal.rate;
    o.rate = options.rate;
    o.loopStart = signal.loopStart;
    o.loopEnd = signal.loopEnd;
    o.loopFit = options.loopFit;
    o.trebleBoost = options.trebleBoost ? 1 : 0;
    o.loopHeader = options.noLoopHeader ? 0 : 1;
    return o;
}

// The loop --loop auto chose, or why there is none.
void ReportFoundLoop(const Options& options, const std::string& in, const Signal& signal)
{
    if (!options.loopAuto) {
        return;
    }
    if (!signal.loopFound) {
        PrintTo(options.progress, "Loop : none; %s does not sustain, so it stays one-shot.\n", in.c_str());
        return;
    }
    PrintTo(options.progress, "Loop found : %" PRId64 ":%" PRId64 " (%.3fs:%.3fs).\n", signal.loopStart,
            signal.loopEnd, static_cast<double>(signal.loopStart) / signal.rate,
            static_cast<double>(signal.loopEnd) / signal.rate);
}

// With --max-bytes, the options at the highest whole rate from 1000 Hz to
// the input's (or --rate) whose output fits; false after the error line.
bool FitRate(const Signal& signal, const std::string& in, Options& options)
{
    const BRRShapeOptions o = ShapeOptions(signal, options);
    double rate = 0;
    const int status = BRRShapeRateForBytes(signal.samples.size(), &o, options.maxBytes, &rate);
    if (status == BRR_STATUS_TOO_LARGE) {
        PrintFailure(in, ("does not fit " + std::to_string(options.maxBytes) + " bytes even at 1000 Hz (" +
                          std::to_string(static_cast<std::uint64_t>(rate)) + " bytes)").c_str());
        return false;
    }
    if (status != BRR_OK) {
        PrintError("Error : %s cannot be shaped: %s.\n", in.c_str(), BRRStatusText(status));
        return false;
    }
    options.rate = static_cast<std::uint32_t>(rate);
    return true;
}

// Shapes the signal; false after the error line.
bool Shape(const Signal& signal, const Options& options, const char* in, std::vector<std::int16_t>& pcm,
           BRRShapeResult& shaped)
{
    const BRRShapeOptions o = ShapeOptions(signal, options);
    if (o.rate != 0 && (o.rate > o.inputRate * BRR_SHAPE_MAX_RATIO || o.inputRate > o.rate * BRR_SHAPE_MAX_RATIO)) {
        PrintError("Error : %s is at %g Hz; --rate %g is more than %g times from it, farther than resampling goes.\n",
                   in, o.inputRate, o.rate, BRR_SHAPE_MAX_RATIO);
        return false;
    }
    BRRShapePlan plan{};
    int status = BRRShapePlanOf(signal.samples.size(), &o, &plan);
    if (status == BRR_OK) {
        pcm.resize(static_cast<std::size_t>(plan.sampleCount));
        status = BRRShape(signal.samples.data(), signal.samples.size(), &o, pcm.data(), pcm.size(), &shaped);
    }
    if (status != BRR_OK) {
        PrintError("Error : %s cannot be shaped: %s.\n", in, BRRStatusText(status));
        return false;
    }
    if (shaped.boostScale < 1) {
        PrintError("Warning : the treble boost of %s would clip; the sample is scaled down by %.2f dB.\n", in,
                   -20.0 * std::log10(shaped.boostScale));
    }
    // The input's own samples past full scale are the file's; what only
    // resampling made is the resampler's overshoot.
    if (shaped.inputBeyond > 0) {
        PrintError("Warning : %s has %" PRIu64 " samples beyond full scale; clipped.\n", in, shaped.inputBeyond);
    } else if (shaped.shapingBeyond > 0) {
        PrintError("Warning : resampling %s overshoots full scale at %" PRIu64 " samples; clipped.\n", in,
                   shaped.shapingBeyond);
    }
    return LoopHeader(options, in, shaped.plan);
}

// Reads, shapes and encodes the input, then writes the blocks.
bool Encode(const Options& given, const Names& names, BRRFile& input)
{
    Signal signal;
    Options options = given;
    const char* in = names.input.c_str();
    if (!ReadSignal(input.descriptor, names.input, options, signal)) {
        return false;
    }
    ReportFoundLoop(options, names.input, signal);
    std::vector<std::int16_t> pcm;
    BRRShapeResult shaped{};
    if ((options.maxBytes != 0 && !FitRate(signal, names.input, options)) || !Shape(signal, options, in, pcm, shaped)) {
        return false;
    }
    BRREncodeOptions encode = options.encode;
    encode.loopStart = shaped.plan.loopStart;
    encode.loopHeader = shaped.plan.loopHeader;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(shaped.plan.loopHeader != 0 ? BRR_ENCODED_FILE_SIZE(pcm.size())
                                                                                        : BRR_ENCODED_SIZE(pcm.size())));
    ProgressLine progress(options, names.input);
    encode.progress = ShowProgress;
    encode.progressContext = &progress;
    BRREncodeResult result;
    const int status = BRREncode(pcm.data(), pcm.size(), &encode, bytes.data(), bytes.size(), &result);
    progress.Clear();
    if (status != BRR_OK) {
        PrintError("Error : %s cannot be encoded: %s.\n", in, BRRStatusText(status));
        return false;
    }
    if (!WriteOut(options, names, input, bytes)) {
        return false;
    }
    const double root = options.rootNote >= 0 ? options.rootNote : signal.rootNote;
    Report(options, names.input, shaped.plan.rate, root, result);
    PrintTo(options.progress, "Done !\n");
    return true;
}

}  // namespace

bool EncodeOne(const Options& options, const char* inputArg, const std::string& output, bool announce,
               std::vector<Written>& written)
{
    static const StandardInputRules kRules = {"audio", std::numeric_limits<std::uint64_t>::max(), ""};
    // x.brr's output would be x.brr itself: say what the input is instead.
    if (HasExtension(inputArg, "brr") && IsTheInput(inputArg, output)) {
        PrintFailure(inputArg, "is a BRR block file, not audio; brrdecode decodes it");
        return false;
    }
    return RunOne(options, inputArg, output, announce, kRules, written,
                  [&](const Names& names, BRRFile& input) { return Encode(options, names, input); });
}

}  // namespace brrencode
