// Fuzz target: arbitrary bytes through the whole in-memory conversion, with
// no files: sample forms, options, the rendering of every pass and the WAV's
// bytes, all checked against a model written here from the format's rules
// and the plain reference decoder.
//
// Byte 0 picks the loop count (bits 0-2: 1..8), the piece size (bits 3-4:
// 1..4 blocks, so that every piece boundary is crossed), the hardware's rules
// (bit 5) and playback (bits 6-7: none, or pitch 4096, 0x1234 or 0x0A00);
// byte 1 the sample rate (bits 0-2), sample
// forms (bit 3), no header (bit 4), stop at the end (bit 5), no smpl chunk
// (bit 6) and the smpl chunk's root note (bit 7: 60 or 61); byte 2 the loop start (0: none; bit 7 set: the raw value, which
// may lie outside). The rest is the file, of any size; read as 16-bit
// samples it is also encoded (effort, rules and safe range from byte 1, the
// loop from byte 2) and the blocks checked.
//
// Built with -fsanitize=fuzzer this is a libFuzzer target; built without, it
// is a replay program that runs every file named on its command line (or in
// the directories named there) through the same checks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VornishAudioBRR.h"
#include "reference_decoder.h"

namespace {

constexpr std::uint32_t kRates[8] = {8000, 32000, 1, 384000, 11025, 44100, 16000, 7040};

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        Fail(what);
    }
}

void PutLE32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

int Collect(void* context, const void* bytes, std::size_t size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    out->insert(out->end(), p, p + size);
    return 0;
}

// What the conversion must do with `file`, worked out from the rules.
struct Model {
    int status = BRR_OK;
    std::size_t offset = 0, blocks = 0;
    std::int64_t loopStart = BRR_NO_LOOP_START;
    bool smpl = false;
};

Model Expect(const std::uint8_t* file, std::size_t size, const BRRConvertOptions& o)
{
    Model m;
    const bool twoMore = o.sampleForms != 0 && size % 9 == 2;
    if (!twoMore && size % 9 != 0) {
        m.status = BRR_STATUS_BAD_SIZE;
        return m;
    }
    const bool headered = twoMore && o.noHeader == 0;
    m.offset = headered ? 2 : 0;
    m.blocks = (size - m.offset) / 9;
    bool bothFlags = false;
    if (o.sampleForms != 0 && m.blocks > 0) {
        std::size_t end = 0;
        while (end < m.blocks && (file[m.offset + 9 * end] & 1) == 0) {
            ++end;
        }
        if (o.stopAtEnd != 0 && end + 1 < m.blocks) {
            m.blocks = end + 1;
        }
        bothFlags = (file[m.offset + 9 * (m.blocks - 1)] & 3) == 3;
    }
    m.loopStart = o.loopStart;
    const std::uint32_t at = size >= 2 ? file[0] | static_cast<std::uint32_t>(file[1]) << 8 : 0;
    if (m.blocks == 0) {
        m.status = BRR_STATUS_NO_BLOCKS;
    } else if (m.loopStart == BRR_NO_LOOP_START && headered && (at % 9 != 0 || at / 9 >= m.blocks)) {
        m.status = BRR_STATUS_BAD_LOOP_HEADER;
    } else if (m.loopStart == BRR_NO_LOOP_START && headered) {
        m.loopStart = at / 9;
    } else if (m.loopStart >= 0 && static_cast<std::size_t>(m.loopStart) >= m.blocks) {
        m.status = BRR_STATUS_BAD_LOOP_START;
    }
    m.smpl = o.sampleForms != 0 && o.writeSmpl != 0 && o.play == 0 && m.loopStart >= 0 &&
             (o.loopStart != BRR_NO_LOOP_START || bothFlags);
    return m;
}

// What the voice outputs at `pitch`, one output at a time.
std::vector<std::int16_t> PlayPlainly(const std::vector<std::int16_t>& in, std::uint32_t pitch)
{
    const std::int16_t* g = BRRInterpolationTable();
    const auto v = [&](std::int64_t j) { return j < 0 ? 0 : in[static_cast<std::size_t>(j)] / 2; };
    std::vector<std::int16_t> out;
    for (std::uint64_t p = 0; (p >> 12) < in.size(); p += pitch) {
        const auto n = static_cast<std::int64_t>(p >> 12);
        const auto i = static_cast<int>((p >> 4) & 255);
        std::int32_t s = ((g[255 - i] * v(n - 3)) >> 10) + ((g[511 - i] * v(n - 2)) >> 10) +
                         ((g[256 + i] * v(n - 1)) >> 10);
        s = s > 32767 ? s - 65536 : s < -32768 ? s + 65536 : s;
        s += (g[i] * v(n)) >> 10;
        s = s > 32767 ? 32767 : s < -32768 ? -32768 : s;
        out.push_back(static_cast<std::int16_t>((s >> 1) * 2));
    }
    return out;
}

// The WAV the model plays: every block, then the loop again for each pass.
std::vector<std::uint8_t> ExpectedWav(const std::uint8_t* file, const Model& m,
                                      const BRRConvertOptions& o, std::vector<std::int16_t>& starts)
{
    const std::size_t from = m.loopStart >= 0 ? static_cast<std::size_t>(m.loopStart) : 0;
    const std::uint8_t* blocks = file + m.offset;
    reference::Decoder plain;
    plain.hardware = o.rules == BRR_RULES_HARDWARE;
    std::vector<std::int16_t> samples = plain.DecodeBlocks(blocks, 9 * from);
    for (std::uint32_t pass = 0; pass < o.loopCount; ++pass) {
        const std::vector<std::int16_t> loop = plain.DecodeBlocks(blocks + 9 * from, 9 * (m.blocks - from));
        starts.push_back(loop[0]);
        starts.push_back(loop[1]);
        samples.insert(samples.end(), loop.begin(), loop.end());
    }
    if (o.play != 0) {
        samples = PlayPlainly(samples, o.play);
    }
    const std::uint32_t rate = o.play != 0 ? BRR_PLAYBACK_RATE : o.sampleRate;
    const auto data = static_cast<std::uint32_t>(2 * samples.size());
    std::vector<std::uint8_t> wav = {'R', 'I', 'F', 'F'};
    PutLE32(wav, data + 36 + (m.smpl ? 68 : 0));
    for (const char c : std::string("WAVEfmt ")) {
        wav.push_back(static_cast<std::uint8_t>(c));
    }
    for (const std::uint32_t v : {16u, 0x10001u, rate, 2 * rate, 0x100002u}) {
        PutLE32(wav, v);
    }
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    PutLE32(wav, data);
    for (const std::int16_t v : samples) {
        wav.push_back(static_cast<std::uint8_t>(v));
        wav.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
    if (m.smpl) {
        const auto total = static_cast<std::uint32_t>(samples.size());
        const std::uint32_t fields[] = {60, 0, 0, (1000000000u + o.sampleRate / 2) / o.sampleRate,
                                        static_cast<std::uint32_t>(o.rootNote), 0, 0, 0,
                                        1,  0, 0, 0, total - 16 * static_cast<std::uint32_t>(m.blocks - from),
                                        total - 1, 0, 0};
        wav.insert(wav.end(), {'s', 'm', 'p', 'l'});
        for (const std::uint32_t f : fields) {
            PutLE32(wav, f);
        }
    }
    return wav;
}

// The stability report, from each pass's first two samples.
int ExpectedStability(const std::vector<std::int16_t>& s, std::uint32_t passes)
{
    if (passes < 2) {
        return BRR_STABILITY_NONE;
    }
    if (s[0] == s[2] && s[1] == s[3]) {
        return BRR_STABILITY_STABLE;
    }
    for (std::uint32_t i = 0; i + 1 < passes; ++i) {
        for (std::uint32_t j = i + 1; j < passes; ++j) {
            if (s[2 * i] == s[2 * j] && s[2 * i + 1] == s[2 * j + 1]) {
                return BRR_STABILITY_REPEATS;
            }
        }
    }
    return BRR_STABILITY_UNDECIDED;
}

}  // namespace

// The same bytes as 16-bit samples, encoded: the blocks decode, under the
// rules they were judged by, to exactly the reported error, inside the safe
// range, with the flags and the filter-0 starts promised.
void CheckEncode(const std::uint8_t* data, std::size_t size, std::uint8_t choice, std::uint8_t loop)
{
    std::vector<std::int16_t> pcm(size / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    BRREncodeOptions options;
    BRREncodeOptionsInit(&options);
    options.effort = choice % 3;
    options.rules = (choice >> 2) & 1;
    options.safeRange = ((choice >> 3) & 1) ^ 1;
    const std::size_t blocks = (pcm.size() + 15) / 16;
    if (loop != 0 && blocks > 0) {
        options.loopStart = static_cast<std::int64_t>(16 * (loop % blocks));
    }
    std::vector<std::uint8_t> out(blocks * 9);
    BRREncodeResult result;
    const int status = BRREncode(pcm.data(), pcm.size(), &options, out.data(), out.size(), &result);
    Check(status == (pcm.empty() ? BRR_STATUS_NO_BLOCKS : BRR_OK), "encode status");
    if (status != BRR_OK) {
        return;
    }
    std::vector<std::int16_t> decoded(blocks * 16);
    BRRDecoder decoder;
    BRRDecoderInit(&decoder, options.rules);
    BRRDecodeBlocks(&decoder, out.data(), blocks, decoded.data());
    std::uint64_t error = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const std::int64_t e = decoded[i] - (i < pcm.size() ? pcm[i] : 0);
        error += static_cast<std::uint64_t>(e * e);
        Check(options.safeRange == 0 || (decoded[i] / 2 >= BRR_SAFE_MIN && decoded[i] / 2 <= BRR_SAFE_MAX),
              "safe range");
    }
    Check(error == result.squaredError, "encoder's error is the decoder's");
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t header = out[9 * b];
        const bool start = b == 0 || static_cast<std::int64_t>(16 * b) == options.loopStart;
        const int flags = b + 1 < blocks ? 0 : (options.loopStart >= 0 ? 3 : 1);
        Check((header >> 4) <= 12 && (!start || (header & 0x0C) == 0) && (header & 3) == flags, "block headers");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return 0;
    }
    const std::uint8_t* file = data + 3;
    const std::size_t fileSize = size - 3;
    BRRConvertOptions options;
    BRRConvertOptionsInit(&options);
    options.loopCount = 1u + data[0] % 8u;
    options.pieceBlocks = 1u + (data[0] >> 3u) % 4u;
    options.rules = (data[0] >> 5) & 1 ? BRR_RULES_HARDWARE : BRR_RULES_LIBRARY;
    static const std::uint32_t kPitches[4] = {0, BRR_PITCH_ONE, 0x1234, 0x0A00};
    options.play = kPitches[data[0] >> 6];
    options.sampleRate = kRates[data[1] & 7u];
    options.sampleForms = (data[1] >> 3) & 1;
    options.noHeader = (data[1] >> 4) & 1;
    options.stopAtEnd = (data[1] >> 5) & 1;
    options.writeSmpl = ((data[1] >> 6) & 1) ^ 1;
    options.rootNote = 60 + (data[1] >> 7);
    const std::size_t blockCount = fileSize / 9;
    if ((data[2] & 0x80) != 0) {
        options.loopStart = data[2] & 0x7F;
    } else if (data[2] != 0 && blockCount > 0) {
        options.loopStart = static_cast<std::int64_t>(data[2] % blockCount);
    }

    std::vector<std::uint8_t> wav;
    BRRConvertResult result;
    const int status = BRRConvertMemory(file, fileSize, &options, Collect, &wav, &result);
    CheckEncode(file, fileSize, data[1], data[2]);
    const Model model = Expect(file, fileSize, options);
    Check(status == model.status, "status");
    if (status != BRR_OK) {
        Check(wav.empty(), "a refused input writes nothing");
        return 0;
    }
    Check(result.blockCount == model.blocks && result.loopStart == model.loopStart &&
              (result.smpl != 0) == model.smpl,
          "plan");
    std::vector<std::int16_t> starts;
    Check(wav == ExpectedWav(file, model, options, starts), "WAV bytes");
    Check(result.wavSize == wav.size(), "WAV size");
    Check(result.stability == ExpectedStability(starts, options.loopCount), "stability report");
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
