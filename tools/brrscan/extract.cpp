// Writing a find out: its blocks (behind a loop header when the loop is
// known, as brrdecode reads it) and, with --wav, its WAV. Each file appears
// whole or not at all, never replaces one without -f, and never one this
// run wrote.
#include <cinttypes>
#include <cstring>

#include "VornishAudioBRRFile.h"
#include "brrscan.h"
#include "host.h"

namespace brrscan {
namespace {

std::string BaseName(const std::string& image)
{
    if (image == kStandardInput) {
        return "stdin";
    }
    return image.substr(host::NameStart(image));
}

struct Output {
    BRRFile file;
    bool open = false;
};

int WriteTo(void* context, const void* bytes, std::size_t size) { return BRRFileWrite(context, bytes, size); }

// Writes one file through `write(file)`; false after the error line.
template <typename Write>
bool WriteFile(const Options& options, const std::string& path, Run& run, Write write)
{
    if (run.written.count(path) != 0) {
        PrintFailure(path, "written already by this run (two images of one name?)");
        return false;
    }
    BRRFile file;
    const int opened = BRRFileOpenOutput(&file, path.c_str(), host::WidePath(path.c_str()).get(), options.force ? 0 : 1);
    if (opened != 0) {
        PrintFailure(path, opened == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)" : BRRFileErrorText(opened));
        return false;
    }
    ArmCleanup(file);
    const int status = write(file);
    const int writeError = file.error;
    const int placed = FinishOutput(&file, status == BRR_OK);
    if (status != BRR_OK || placed != 0) {
        const int error = status == BRR_STATUS_WRITE_ERROR ? writeError : placed;
        PrintFailure(path, status == BRR_OK || status == BRR_STATUS_WRITE_ERROR
                               ? (error == BRR_FILE_EXISTS ? "file exists (use -f to overwrite)"
                                                           : BRRFileErrorText(error != 0 ? error : EIO))
                               : BRRStatusText(status));
        return false;
    }
    run.written.insert(path);
    return true;
}

}  // namespace

bool Extract(const Options& options, const Place& place, const std::uint8_t* image, Run& run)
{
    const BRRFound& f = place.found;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".0x%06" PRIx64, f.offset);
    std::string stem = options.extractDir;
    if (stem.empty() || stem.back() != '/') {
        stem += '/';
    }
    stem += BaseName(place.image) + suffix;
    // Directory entries that share a start (with other loops) each get a
    // file: the second and later carry their entry's address.
    if (f.foundBy == BRR_FOUND_BY_DIRECTORY && run.written.count(stem + ".brr") != 0) {
        std::snprintf(suffix, sizeof suffix, ".entry0x%04x", static_cast<unsigned>(f.entry));
        stem += suffix;
    }
    // The loop header: the loop's first block as a byte offset, little-endian.
    std::vector<std::uint8_t> sample;
    const std::uint64_t loopOffset = static_cast<std::uint64_t>(f.loopBlock) * BRR_BLOCK_SIZE;
    if (f.loopBlock >= 0 && loopOffset <= 0xFFFF) {
        sample = {static_cast<std::uint8_t>(loopOffset & 0xFF), static_cast<std::uint8_t>(loopOffset >> 8)};
    }
    sample.insert(sample.end(), image + f.offset, image + f.offset + f.blocks * BRR_BLOCK_SIZE);
    const bool blocks = WriteFile(options, stem + ".brr", run, [&](BRRFile& file) {
        return BRRFileWrite(&file, sample.data(), sample.size()) == 0 ? BRR_OK : BRR_STATUS_WRITE_ERROR;
    });
    if (!blocks || !options.wav) {
        return blocks;
    }
    // As brrdecode converts it by default, at the rate asked for or, in a
    // dump, at the rate of the voice that plays it.
    BRRConvertOptions convert;
    BRRConvertOptionsInitTool(&convert);
    if (options.wavRate != 0) {
        convert.sampleRate = options.wavRate;
    } else if (place.voice >= 0) {
        convert.sampleRate = static_cast<std::uint32_t>(place.voiceState.rate);
    }
    return WriteFile(options, stem + ".wav", run, [&](BRRFile& file) {
        return BRRConvertMemory(sample.data(), sample.size(), &convert, WriteTo, &file, nullptr);
    });
}

}  // namespace brrscan
