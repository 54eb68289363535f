// Encoder fuzz target: arbitrary bytes as 16-bit samples through BRREncode
// at every effort, with option fields at the edges of their ranges and past
// them. The blocks must decode, under the rules they were judged by, to
// exactly the error reported, inside the safe range when asked, with the
// flags and the filter-0 starts promised.
//
// Byte 0: the effort (bits 0-1; 3 is none), the library's rules (bit 2), no
// safe range (bit 3), no filter reset (bit 4), and one field made wrong
// (bits 5-7: 0 none, 1 rules 2, 2 a reserved field, 3 a loop off its block,
// 4 a buffer a byte short). Byte 1: the loop's block (0: none; bit 7: keep a
// loop of part blocks, else the samples end on a whole block). The rest: the
// samples, little-endian, at most kMaxSamples of them for the effort, so that
// every run stays short: enough for default to commit blocks while it still
// searches (its lag is 16 blocks), few for best, the slowest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "VornishAudioBRR.h"

namespace {

constexpr std::size_t kMaxSamples[4] = {1024, 512, 64, 64};  // by effort; 3 is none

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

int Expected(std::size_t count, const BRREncodeOptions& o, int wrong)
{
    if (count == 0) {
        return BRR_STATUS_NO_BLOCKS;
    }
    if (wrong == 3) {
        return BRR_STATUS_BAD_LOOP_START;
    }
    if (o.effort > BRR_EFFORT_BEST || wrong == 1 || wrong == 2 ||
        (o.loopStart >= 0 && (count - static_cast<std::size_t>(o.loopStart)) % 16 != 0)) {
        return BRR_STATUS_BAD_OPTION;
    }
    return wrong == 4 ? BRR_STATUS_SMALL_BUFFER : BRR_OK;
}

void CheckBlocks(const std::vector<std::int16_t>& pcm, const BRREncodeOptions& o, const std::vector<std::uint8_t>& out,
                 const BRREncodeResult& result)
{
    const std::size_t blocks = out.size() / 9;
    Check(result.blockCount == blocks, "block count");
    std::vector<std::int16_t> decoded(blocks * 16);
    BRRDecoder decoder;
    BRRDecoderInit(&decoder, o.rules);
    BRRDecodeBlocks(&decoder, out.data(), blocks, decoded.data());
    std::uint64_t error = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const std::int64_t e = decoded[i] - (i < pcm.size() ? pcm[i] : 0);
        error += static_cast<std::uint64_t>(e * e);
        Check(o.safeRange == 0 || (decoded[i] / 2 >= BRR_SAFE_MIN && decoded[i] / 2 <= BRR_SAFE_MAX), "safe range");
    }
    Check(error == result.squaredError, "encoder's error is the decoder's");
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t header = out[9 * b];
        const bool start = o.resetFilter != 0 && (b == 0 || static_cast<std::int64_t>(16 * b) == o.loopStart);
        const int flags = b + 1 < blocks ? 0 : (o.loopStart >= 0 ? 3 : 1);
        Check((header >> 4) <= 12 && (!start || (header & 0x0C) == 0) && (header & 3) == flags, "block headers");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::size_t most = kMaxSamples[data[0] & 3];
    std::vector<std::int16_t> pcm((size - 2) / 2 < most ? (size - 2) / 2 : most);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(data[2 + 2 * i] | (data[3 + 2 * i] << 8));
    }
    BRREncodeOptions o;
    BRREncodeOptionsInit(&o);
    o.effort = data[0] & 3;
    o.rules = (data[0] >> 2) & 1;
    o.safeRange = ((data[0] >> 3) & 1) ^ 1;
    o.resetFilter = ((data[0] >> 4) & 1) ^ 1;
    const int wrong = data[0] >> 5;
    if (data[1] != 0 && pcm.size() >= 16) {
        if ((data[1] & 0x80) == 0) {
            pcm.resize(pcm.size() / 16 * 16);
        }
        o.loopStart = static_cast<std::int64_t>(16 * ((data[1] & 0x7F) % (pcm.size() / 16)));
    }
    o.rules = wrong == 1 ? 2 : o.rules;
    o.reserved[sizeof o.reserved / sizeof o.reserved[0] - 1] = wrong == 2 ? -1 : 0;
    o.loopStart = wrong == 3 ? 8 : o.loopStart;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(BRR_ENCODED_SIZE(pcm.size())));
    const std::size_t capacity = wrong == 4 && !out.empty() ? out.size() - 1 : out.size();
    BRREncodeResult result;
    const int status = BRREncode(pcm.data(), pcm.size(), &o, out.data(), capacity, &result);
    Check(status == Expected(pcm.size(), o, wrong), "status");
    if (status == BRR_OK) {
        CheckBlocks(pcm, o, out, result);
    }
    return 0;
}
