// One image: read whole, scanned by the library, each find
// listed (or gathered for --unique) and written out.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <new>

#include "brrscan.h"

namespace brrscan {
namespace {

constexpr std::uint64_t kShowProgress = std::uint64_t{4} << 20;  // larger images show it at once
// Standard input is spooled to a file first; this is as much as it may hold.
constexpr std::uint64_t kLargestImage = std::uint64_t{1} << 40;

struct Scanning {
    const Options& options;
    Run& run;
    const std::string& name;
    const std::uint8_t* bytes;
    ProgressLine& line;
    const DumpInfo& dump;
    std::int64_t memoryOffset;  // -1: no memory image
    bool ok;
};

void Progress(void* context, std::uint64_t done, std::uint64_t total)
{
    static_cast<Scanning*>(context)->line.Update(done, total);
}

int Take(void* context, const BRRFound* found)
{
    auto* s = static_cast<Scanning*>(context);
    s->line.Clear();  // the listing's lines, then the progress again
    Place place{s->name, *found};
    place.voice = VoiceOf(s->dump, *found);
    if (place.voice >= 0) {
        place.voiceState = s->dump.dump.voices[place.voice];
    }
    if (s->memoryOffset >= 0) {
        WarnOfLoop(s->name, s->bytes, static_cast<std::uint64_t>(s->memoryOffset), *found);
    }
    if (!s->options.unique) {
        if (!s->options.quiet) {
            List(s->options, place, nullptr);
        }
        s->ok = (s->options.extractDir == nullptr || Extract(s->options, place, s->bytes, s->run)) && s->ok;
        return 0;
    }
    const std::uint64_t key = Fingerprint(s->bytes + found->offset, found->blocks * BRR_BLOCK_SIZE, found->loopBlock);
    const auto known = s->run.index.find(key);
    if (known != s->run.index.end()) {
        s->run.distinct[known->second].places.push_back(place);
        return 0;
    }
    s->run.index.emplace(key, s->run.distinct.size());
    s->run.distinct.push_back(Distinct{{place}});
    s->ok = (s->options.extractDir == nullptr || Extract(s->options, place, s->bytes, s->run)) && s->ok;
    return 0;
}

// The options that this image allows; false after the error line.
bool OptionsFor(const Options& options, const std::string& name, std::uint64_t size, bool dump, BRRScanOptions& scan)
{
    scan = options.scan;
    if (scan.memoryOffset >= 0 &&
        (size < BRR_MEMORY_IMAGE_SIZE || static_cast<std::uint64_t>(scan.memoryOffset) > size - BRR_MEMORY_IMAGE_SIZE)) {
        PrintFailure(name, "too short for a 64 KiB memory image at --memory-offset");
        return false;
    }
    if (scan.directory >= 0 && scan.memoryOffset < 0 && size != BRR_MEMORY_IMAGE_SIZE && !dump) {
        PrintFailure(name, "--directory needs a memory image: a file of 65536 bytes, a music-state dump, or --memory-offset");
        return false;
    }
    return true;
}

bool Scan(const Options& options, const std::string& name, BRRFile& input, Run& run)
{
    const WholeFile bytes(name, input);
    BRRScanOptions scan;
    DumpInfo dump;
    if (!bytes.ok() || !ReadDump(options, name, bytes.data(), bytes.size(), dump) ||
        !OptionsFor(options, name, bytes.size(), dump.present, scan)) {
        return false;
    }
    ProgressLine line(options, name, bytes.size() > kShowProgress);
    scan.progress = Progress;
    const std::int64_t memory = scan.memoryOffset >= 0              ? scan.memoryOffset
                                : scan.memoryOffset == BRR_SCAN_NONE ? -1
                                : bytes.size() == BRR_MEMORY_IMAGE_SIZE ? 0
                                : dump.present                       ? BRR_DUMP_MEMORY_OFFSET : -1;
    Scanning s{options, run, name, bytes.data(), line, dump, memory, true};
    const int status = BRRScan(bytes.data(), static_cast<std::size_t>(bytes.size()), &scan, Take, &s);
    line.Clear();
    if (status != BRR_OK) {
        PrintFailure(name, BRRStatusText(status));
        return false;
    }
    return s.ok;
}

}  // namespace

bool ScanImage(const Options& options, const char* image, Run& run)
{
    static const StandardInputRules kRules = {"image", kLargestImage, "%s: standard input is too large to scan.\n"};
    const std::string name = IsStandardStream(image) ? kStandardInput : image;
    BRRFile input{};
    int spool = -1;
    const bool ok = OpenInput(image, kRules, &input, &spool) >= 0 && Scan(options, name, input, run);
    CloseInput(image, &input, spool);
    return ok;
}

std::uint64_t Fingerprint(const std::uint8_t* blocks, std::uint64_t size, std::int64_t loopBlock)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    const auto mix = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * 0x100000001b3u; };
    for (std::uint64_t i = 0; i < size; ++i) {
        mix(blocks[i]);
    }
    for (int i = 0; i < 8; ++i) {
        mix(static_cast<std::uint8_t>(static_cast<std::uint64_t>(loopBlock) >> (8 * i)));
    }
    return hash;
}

}  // namespace brrscan
