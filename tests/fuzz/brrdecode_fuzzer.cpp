// Fuzz target: arbitrary bytes through the whole conversion, file to file.
//
// Byte 0 picks the loop count (1..8) and the working-buffer size (1..4
// blocks, so that every chunk boundary is crossed), byte 1 the sample rate,
// byte 2 the loop start (none, or a block of the sample); the rest are blocks
// (a trailing partial block is dropped, as the size check would refuse it).
// Checked every time: the WAV's header fields, and its samples against the
// plain reference decoder playing block 0 to the end once, then from the loop
// start to the end again for every further pass, the history carried on.
//
// Built with -fsanitize=fuzzer this is a libFuzzer target; built without, it
// is a replay program that runs every file named on its command line (or in
// the directories named there) through the same checks.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VornishAudioBRRDecoder.h"
#include "brr/brr_decoder.h"
#include "convert/convert.h"
#include "reference_decoder.h"

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

std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    std::uint8_t buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(file);
    return bytes;
}

const std::string& ScratchPrefix()
{
    static const std::string prefix = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp != nullptr ? tmp : "/tmp") + "/brrfuzz." + std::to_string(::getpid());
    }();
    return prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return 0;
    }
    const std::uint8_t* blocks = data + 3;
    const std::size_t blockCount = (size - 3) / vornish::kBRRBlockSize;
    vornish::ConvertOptions options;
    options.progress = nullptr;
    options.loopCount = 1u + data[0] % 8u;
    options.chunkBlocks = 1u + (data[0] >> 3u) % 4u;
    options.sampleRate = kRates[data[1] % 8u];
    if (data[2] != 0 && blockCount > 0) {
        options.loopStart = static_cast<std::int64_t>(data[2] % blockCount);
    }

    const std::string in = ScratchPrefix() + ".brr";
    const std::string out = ScratchPrefix() + ".wav";
    std::FILE* file = std::fopen(in.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(blocks, 1, blockCount * vornish::kBRRBlockSize, file);
    std::fclose(file);
    const std::int32_t status = vornish::BRRConvertFile(in.c_str(), out.c_str(), options);
    const std::vector<std::uint8_t> wav = ReadAll(out);
    std::remove(in.c_str());
    std::remove(out.c_str());
    if (blockCount == 0) {
        if (status != BRR_STATUS_NO_BLOCKS || !wav.empty()) {
            Fail("an empty input is refused without output");
        }
        return 0;
    }
    if (status != BRR_STATUS_DONE) {
        Fail("conversion failed");
    }

    const std::size_t loopStart = options.loopStart < 0 ? 0 : static_cast<std::size_t>(options.loopStart);
    reference::Decoder plain;
    std::vector<std::int16_t> expected = plain.DecodeBlocks(blocks, blockCount * vornish::kBRRBlockSize);
    for (std::uint32_t pass = 1; pass < options.loopCount; ++pass) {
        const std::vector<std::int16_t> again =
            plain.DecodeBlocks(blocks + loopStart * vornish::kBRRBlockSize,
                               (blockCount - loopStart) * vornish::kBRRBlockSize);
        expected.insert(expected.end(), again.begin(), again.end());
    }
    if (wav.size() != 44 + 2 * expected.size()) {
        Fail("WAV size");
    }
    if (std::memcmp(wav.data(), "RIFF", 4) != 0 || std::memcmp(wav.data() + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(wav.data() + 36, "data", 4) != 0) {
        Fail("WAV chunk identifiers");
    }
    if (ReadLE32(wav.data() + 4) != wav.size() - 8 || ReadLE32(wav.data() + 40) != wav.size() - 44 ||
        ReadLE32(wav.data() + 24) != options.sampleRate ||
        ReadLE32(wav.data() + 28) != 2 * options.sampleRate) {
        Fail("WAV header fields");
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8) != expected[i]) {
            Fail("WAV samples differ from the reference decoder");
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
#endif
