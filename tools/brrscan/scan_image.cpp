// One image: read whole, scanned by the library, each find
// listed (or gathered for --unique) and written out.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <new>

#include "brrscan.h"

namespace brrscan {
namespace {

constexpr std::uint64_t kReadPiece = std::uint64_t{64} << 20;
constexpr std::uint64_t kShowProgress = std::uint64_t{4} << 20;  // larger images show it at once
// Standard input is spooled to a file first; this is as much as it may hold.
constexpr std::uint64_t kLargestImage = std::uint64_t{1} << 40;

struct Scanning {
    const Options& options;
    Run& run;
    const std::string& name;
    const std::uint8_t* bytes;
    ProgressLine& line;
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
    const Place place{s->name, *found};
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
bool OptionsFor(const Options& options, const std::string& name, std::uint64_t size, BRRScanOptions& scan)
{
    scan = options.scan;
    if (scan.memoryOffset >= 0 &&
        (size < BRR_MEMORY_IMAGE_SIZE || static_cast<std::uint64_t>(scan.memoryOffset) > size - BRR_MEMORY_IMAGE_SIZE)) {
        PrintFailure(name, "too short for a 64 KiB memory image at --memory-offset");
        return false;
    }
    if (scan.directory >= 0 && scan.memoryOffset < 0 && size != BRR_MEMORY_IMAGE_SIZE) {
        PrintFailure(name, "--directory needs a memory image: a file of 65536 bytes, or --memory-offset");
        return false;
    }
    return true;
}

// The image's bytes, read whole into memory: a mapped file that shrinks
// under the scan would end the process (SIGBUS), a read error is a message.
class ImageBytes {
public:
    ImageBytes(const std::string& name, BRRFile& input) : size_(input.size)
    {
        if (size_ > SIZE_MAX) {
            PrintFailure(name, ("is " + std::to_string(size_) + " bytes, more than this system's address space holds")
                                   .c_str());
            return;
        }
        try {
            copy_.resize(static_cast<std::size_t>(size_));
        } catch (const std::exception&) {
            PrintFailure(name, "not enough memory to hold the image");
            return;
        }
        for (std::uint64_t at = 0; at < size_; at += kReadPiece) {
            const std::uint64_t piece = std::min(kReadPiece, size_ - at);
            if (BRRFileRead(&input, at, copy_.data() + at, static_cast<std::size_t>(piece)) != 0) {
                // An early end is EIO too: the file was cut short while it was read.
                const std::string why = std::string("cannot read it whole: ") + BRRFileErrorText(input.error) +
                                        (input.error == EIO ? " (did it shrink while it was read?)" : "");
                PrintFailure(name, why.c_str());
                return;
            }
        }
        ok_ = true;
    }

    bool ok() const { return ok_; }
    const std::uint8_t* data() const { return copy_.data(); }
    std::uint64_t size() const { return size_; }

private:
    std::uint64_t size_;
    std::vector<std::uint8_t> copy_;
    bool ok_ = false;
};

bool Scan(const Options& options, const std::string& name, BRRFile& input, Run& run)
{
    const ImageBytes bytes(name, input);
    BRRScanOptions scan;
    if (!bytes.ok() || !OptionsFor(options, name, bytes.size(), scan)) {
        return false;
    }
    ProgressLine line(options, name, bytes.size() > kShowProgress);
    scan.progress = Progress;
    Scanning s{options, run, name, bytes.data(), line, true};
    const int status = BRRScan(bytes.data(), static_cast<std::size_t>(bytes.size()), &scan, Take, &s);
    line.Clear();
    if (status != BRR_OK) {
        PrintFailure(name, BRRStatusText(status));
        return false;
    }
    return s.ok;
}

// The length of the well-formed UTF-8 sequence at text[i] (0: none there).
std::size_t Utf8Length(const std::string& text, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = at(i);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong form, no surrogate, nothing past U+10FFFF.
    const unsigned second = length > 1 ? at(i + 1) : 0x80;
    const bool bad = (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                     (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F);
    return bad ? 0 : length;
}

// A string as JSON writes it. A byte that is not part of well-formed UTF-8
// (a file name in another encoding) is written as \u00XX, its Latin-1 reading.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Length(text, i);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += text[i];
        } else if (u < 0x20 || length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out + "\"";
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

void List(const Options& options, const Place& place, const std::vector<Place>* places)
{
    const BRRFound& f = place.found;
    const bool directory = f.foundBy == BRR_FOUND_BY_DIRECTORY;
    if (options.json) {
        std::printf("{\"image\": %s, \"offset\": %" PRIu64 ", \"blocks\": %" PRIu64 ", \"loop\": ",
                    Quoted(place.image).c_str(), f.offset, f.blocks);
        f.loopBlock >= 0 ? std::printf("%" PRId64, f.loopBlock) : std::printf("null");
        std::printf(", \"score\": %.4f, \"found_by\": \"%s\", \"directory\": ", f.score, directory ? "directory" : "scan");
        directory ? std::printf("%d", f.entry) : std::printf("null");
        if (places != nullptr) {
            std::printf(", \"places\": [");
            for (std::size_t i = 0; i < places->size(); ++i) {
                std::printf("%s{\"image\": %s, \"offset\": %" PRIu64 "}", i > 0 ? ", " : "",
                            Quoted((*places)[i].image).c_str(), (*places)[i].found.offset);
            }
            std::printf("]");
        }
        std::printf("}\n");
        return;
    }
    char loop[24] = "-";
    if (f.loopBlock >= 0) {
        std::snprintf(loop, sizeof loop, "%" PRId64, f.loopBlock);
    }
    char by[24] = "scan";
    if (directory) {
        std::snprintf(by, sizeof by, "directory 0x%04x", static_cast<unsigned>(f.entry));
    }
    const bool more = places != nullptr || options.batch;
    std::printf("0x%06" PRIx64 "  %7" PRIu64 "  %7s  %4.2f  %-*s", f.offset, f.blocks, loop, f.score, more ? 16 : 0, by);
    if (places != nullptr) {
        for (const Place& p : *places) {
            std::printf("  %s@0x%06" PRIx64, p.image.c_str(), p.found.offset);
        }
    } else if (options.batch) {
        std::printf("  %s", place.image.c_str());
    }
    std::printf("\n");
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
