// Scanner fuzz target: arbitrary bytes as an image (or at the start of a
// 64 KiB memory image) through BRRScan with option fields at their edges and past
// them. Every find must lie inside the image and end on an end block; scan
// finds come in order, overlap nothing else and meet the options; a
// directory find's loop lies inside it; a scan stopped by the found
// function stops at once; and a wrong field is refused, with no call.
//
// Byte 0: min blocks (bits 0-2, plus 1), the form (bits 3-4: 0 and 1 plain,
// 2 a memory image of the data and zeros, 3 the same behind a memory offset
// of 5, the directory named by byte 2 when it is odd), a wrong field (bits 5-7:
// 0 none, 1 a reserved field, 2 min blocks 0, 3 a score past 1, 4 a memory
// offset past the end, 5 a directory off its page). Byte 1: the lowest
// score, in 255ths. Byte 3: stop after that many finds (0: never). The
// rest: the data.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

struct Seen {
    const std::vector<std::uint8_t>* image;
    const BRRScanOptions* options;
    std::vector<BRRFound> finds;
    std::size_t stopAfter;
};

int Take(void* context, const BRRFound* f)
{
    auto* s = static_cast<Seen*>(context);
    const std::vector<std::uint8_t>& image = *s->image;
    Check(s->stopAfter == 0 || s->finds.size() < s->stopAfter, "a call after the scan was stopped");
    Check(f->blocks >= 1 && f->offset + f->blocks * BRR_BLOCK_SIZE <= image.size(), "a find outside the image");
    Check((image[static_cast<std::size_t>(f->offset + (f->blocks - 1) * BRR_BLOCK_SIZE)] & BRR_END_FLAG) != 0,
          "a find not ending on an end block");
    Check(f->score >= 0.0 && f->score <= 1.0, "a score outside 0..1");
    if (f->foundBy == BRR_FOUND_BY_SCAN) {
        Check(f->blocks >= s->options->minBlocks && f->score >= s->options->minScore, "a scan find under the options");
        Check(f->entry == -1 && f->loopBlock == BRR_NO_LOOP_START, "a scan find with a directory's fields");
    } else {
        Check(f->foundBy == BRR_FOUND_BY_DIRECTORY && f->entry >= 0, "a directory find without its entry");
        Check(f->loopBlock < static_cast<std::int64_t>(f->blocks), "a loop past the sample");
    }
    for (const BRRFound& g : s->finds) {
        const bool apart = g.offset + g.blocks * BRR_BLOCK_SIZE <= f->offset || g.offset >= f->offset + f->blocks * BRR_BLOCK_SIZE;
        Check(apart || (g.foundBy == BRR_FOUND_BY_DIRECTORY && f->foundBy == BRR_FOUND_BY_DIRECTORY),
              "a scan find that overlaps another find");
    }
    Check(s->finds.empty() || s->finds.back().offset <= f->offset, "finds out of order");
    s->finds.push_back(*f);
    return s->stopAfter != 0 && s->finds.size() == s->stopAfter ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    BRRScanOptions o;
    BRRScanOptionsInit(&o);
    o.minBlocks = 1u + (data[0] & 7u);
    o.minScore = data[1] / 255.0;
    const int form = (data[0] >> 3) & 3;
    const int wrong = data[0] >> 5;
    std::vector<std::uint8_t> image(data + 4, data + size);
    if (form >= 2 && !image.empty()) {
        const std::size_t offset = form == 2 ? 0 : 5;
        std::vector<std::uint8_t> memory(offset + BRR_MEMORY_IMAGE_SIZE);  // the rest zero, as free memory is
        std::copy(image.begin(), image.end(), memory.begin() + static_cast<std::ptrdiff_t>(offset));
        image.swap(memory);
        o.memoryOffset = form == 2 ? BRR_SCAN_AUTO : static_cast<std::int64_t>(offset);
        o.directory = form == 3 && (data[2] & 1) != 0 ? data[2] * 256 : BRR_SCAN_AUTO;
    }
    switch (wrong) {
    case 1: o.reserved[data[2] % 8] = 1; break;
    case 2: o.minBlocks = 0; break;
    case 3: o.minScore = 1.0 + 1.0 / 256; break;
    case 4: o.memoryOffset = static_cast<std::int64_t>(image.size()); break;
    case 5: o.directory = form == 3 ? data[2] * 256 + 1 : 0x100; break;
    default: break;
    }
    const bool refused = wrong >= 1 && wrong <= 5 && (wrong != 5 || form == 3 || image.size() != BRR_MEMORY_IMAGE_SIZE);
    Seen seen{&image, &o, {}, data[3]};
    const int status = BRRScan(image.data(), image.size(), &o, Take, &seen);
    Check(status == (refused ? BRR_STATUS_BAD_OPTION : BRR_OK), "a status other than the one expected");
    Check(!refused || seen.finds.empty(), "finds from refused options");
    return 0;
}
