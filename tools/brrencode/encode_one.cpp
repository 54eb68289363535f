// One INPUT to one BRR file: read, shape, encode (the library), then write
// the blocks whole or not at all, never over a file without -f, never over
// the input.

#include <cerrno>
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
    if (!OpenOutput(options.force, names, input, "BRR", &output)) {
        return false;
    }
    const bool own = !names.toStandardOutput;
    if (own) {
        ArmCleanup(output);
    }
    int error = BRRFileWrite(&output, bytes.data(), bytes.size()) != 0 ? (output.error != 0 ? output.error : EIO) : 0;
    if (own) {
        const int placed = FinishOutput(&output, error == 0);
        error = error != 0 ? error : placed;
    }
    if (error != 0) {
        PrintFailure(names.output, error == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)"
                                                            : BRRFileErrorText(error));
    }
    return error == 0;
}

void Report(const Options& options, const Shaped& shaped, const BRREncodeResult& result)
{
    PrintTo(options.progress, "Number of BRR blocks written : %" PRIu64 ".\n", result.blockCount);
    const double snr = result.squaredError == 0 ? std::numeric_limits<double>::infinity()
                       : 10.0 * std::log10(static_cast<double>(result.signalEnergy) /
                                           static_cast<double>(result.squaredError));
    PrintTo(options.progress, "SNR : %.2f dB.\n", snr);
    if (result.loopBlock >= 0) {
        PrintTo(options.progress, "Loop start : block %" PRId64 ".\n", result.loopBlock);
    }
    if (shaped.resampled) {
        PrintTo(options.progress, "Rate : %.0f Hz.\n", std::round(shaped.rate));
    }
}

// Reads, shapes and encodes the input, then writes the blocks.
bool Encode(const Options& options, const Names& names, BRRFile& input)
{
    Signal signal;
    Shaped shaped;
    if (!ReadSignal(input.descriptor, names.input, options, signal) ||
        !Shape(signal, options, names.input, shaped)) {
        return false;
    }
    const char* in = names.input.c_str();
    if (shaped.boostScale < 1) {
        PrintError("Warning : the treble boost of %s would clip; the sample is scaled down by %.2f dB.\n", in,
                   -20.0 * std::log10(shaped.boostScale));
    }
    if (shaped.clipped > 0) {
        PrintError("Warning : %s has %" PRIu64 " samples beyond full scale; clipped.\n", in, shaped.clipped);
    }
    BRREncodeOptions encode = options.encode;
    encode.loopStart = shaped.loopStart;
    const std::size_t header = options.loopHeader ? BRR_LOOP_HEADER_SIZE : 0;
    std::vector<std::uint8_t> bytes(header + static_cast<std::size_t>(BRR_ENCODED_SIZE(shaped.pcm.size())));
    BRREncodeResult result;
    const int status = BRREncode(shaped.pcm.data(), shaped.pcm.size(), &encode, bytes.data() + header,
                                 bytes.size() - header, &result);
    if (status != BRR_OK) {
        PrintError("Error : %s cannot be encoded: %s.\n", in, BRRStatusText(status));
        return false;
    }
    if (header != 0) {
        const std::uint64_t offset = result.loopBlock >= 0 ? static_cast<std::uint64_t>(result.loopBlock) * 9 : 0;
        if (offset > 0xFFFF) {
            PrintError("Error : Loop start of %s (byte %" PRIu64 ") does not fit a 2-byte loop header.\n", in, offset);
            return false;
        }
        bytes[0] = static_cast<std::uint8_t>(offset & 0xFF);
        bytes[1] = static_cast<std::uint8_t>(offset >> 8);
    }
    if (!WriteOut(options, names, input, bytes)) {
        return false;
    }
    Report(options, shaped, result);
    PrintTo(options.progress, "Done !\n");
    return true;
}

}  // namespace

bool EncodeOne(const Options& options, const char* inputArg, const std::string& output, bool announce,
               std::vector<Written>& written)
{
    static const StandardInputRules kRules = {"audio", std::numeric_limits<std::uint64_t>::max(), ""};
    return RunOne(options, inputArg, output, announce, kRules, written,
                  [&](const Names& names, BRRFile& input) { return Encode(options, names, input); });
}

}  // namespace brrencode
