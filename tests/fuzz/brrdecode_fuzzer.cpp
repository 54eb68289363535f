// Fuzz target: arbitrary bytes through the whole conversion in memory.
//
// Byte 0 picks the loop count, byte 1 the sample rate, the rest are blocks
// (a trailing partial block is dropped, as the size check would refuse it).
// Checked every time: the fast decoder agrees with the plain reference
// decoder across all loops, every sample is even, the WAV has the right
// size and header fields, and the loop reports run without fault.
//
// Built with -fsanitize=fuzzer this is a libFuzzer target; built without, it
// is a replay program that runs every file named on its command line (or in
// the directories named there) through the same checks.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "brr/brr_decoder.h"
#include "reference_decoder.h"
#include "report/loop_reports.h"
#include "wav/wav_writer.h"

namespace {

constexpr std::uint32_t kRates[8] = {8000, 32000, 1, 384000, 11025, 44100, 16000, 7040};

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

std::uint32_t ReadLE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8u |
           static_cast<std::uint32_t>(p[2]) << 16u | static_cast<std::uint32_t>(p[3]) << 24u;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const std::uint32_t loops = 1u + data[0] % 8u;
    const std::uint32_t rate = kRates[data[1] % 8u];
    const std::uint8_t* blocks = data + 2;
    const std::size_t blockCount = (size - 2) / vornish::kBRRBlockSize;
    const std::size_t loopSamples = blockCount * vornish::kBRRSamplesPerBlock;

    std::vector<std::int16_t> samples(loops * loopSamples);
    vornish::BRRHistory fast{0, 0};
    reference::Decoder plain;
    std::vector<std::int16_t> firsts(loops, 0);
    std::vector<std::int16_t> seconds(loops, 0);
    for (std::uint32_t loop = 0; loop < loops; ++loop) {
        std::int16_t* out = samples.data() + loop * loopSamples;
        vornish::BRRDecodeBlocks(fast, blocks, blockCount, out);
        const std::vector<std::int16_t> expected =
            plain.DecodeBlocks(blocks, blockCount * vornish::kBRRBlockSize);
        if (!std::equal(expected.begin(), expected.end(), out)) {
            Fail("fast and plain decoders disagree");
        }
        if (plain.last < -16384 || plain.last > 16383 || plain.older < -16384 || plain.older > 16383) {
            Fail("history left the 15-bit range");
        }
        if (fast.last != plain.last || fast.older != plain.older) {
            Fail("histories disagree after a pass");
        }
        if (blockCount > 0) {
            firsts[loop] = out[0];
            seconds[loop] = out[1];
        }
    }

    if (blockCount > 0) {
        vornish::ReportProbableNote(static_cast<std::uint32_t>(blockCount), rate);
        vornish::ReportLoopStability(loops, firsts.data(), seconds.data());
    }

    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        return 0;
    }
    const auto totalBlocks = static_cast<std::uint32_t>(loops * blockCount);
    if (!vornish::WriteWav(file, rate, samples.data(), totalBlocks)) {
        Fail("WAV write failed");
    }
    const long end = std::ftell(file);
    std::vector<std::uint8_t> wav(static_cast<std::size_t>(end));
    std::rewind(file);
    if (std::fread(wav.data(), 1, wav.size(), file) != wav.size()) {
        Fail("WAV read back failed");
    }
    std::fclose(file);
    if (wav.size() != 44 + 32 * static_cast<std::size_t>(totalBlocks)) {
        Fail("WAV size");
    }
    if (std::memcmp(wav.data(), "RIFF", 4) != 0 || std::memcmp(wav.data() + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(wav.data() + 36, "data", 4) != 0) {
        Fail("WAV chunk identifiers");
    }
    if (ReadLE32(wav.data() + 4) != wav.size() - 8 || ReadLE32(wav.data() + 40) != wav.size() - 44 ||
        ReadLE32(wav.data() + 24) != rate || ReadLE32(wav.data() + 28) != 2 * rate) {
        Fail("WAV header fields");
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = wav[44 + 2 * i];
        const auto hi = wav[45 + 2 * i];
        if (static_cast<std::int16_t>(lo | hi << 8) != samples[i]) {
            Fail("WAV samples");
        }
    }
    return 0;
}

#if defined(VORNISH_FUZZ_REPLAY)
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

int Replay(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    // The reports print; keep the replay's own output readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 2;
    }
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                count += Replay(entry.path());
            }
        } else {
            count += Replay(path);
        }
    }
    std::fprintf(stderr, "replayed %d inputs\n", count);
    return count > 0 ? 0 : 1;
}
#else
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The loop reports print on every input; libFuzzer reports on stderr.
    return std::freopen("/dev/null", "w", stdout) == nullptr ? 1 : 0;
}
#endif
