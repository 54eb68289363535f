// Conversion fuzz target: arbitrary bytes through the whole in-memory
// conversion, with no files: sample forms, every option field (out-of-range
// values too), plans, rendering through memory and through a read function,
// playback, and the WAV's bytes, checked against a model written here from
// the format's rules and the plain reference decoder.
//
// Byte 0 picks the loop count (bits 0-2: 1..8), the piece size (bits 3-4:
// 1..4 blocks, so that every piece boundary is crossed), the hardware's rules
// (bit 5) and playback (bits 6-7: none, or pitch 4096, 0x1234 or 0x0A00);
// byte 1 the sample rate (bits 0-2), sample forms (bit 3), no header (bit 4),
// stop at the end (bit 5), no smpl chunk (bit 6) and the smpl chunk's root
// note (bit 7: 60 or 61); byte 2 the loop start (0: none; bit 7 set: the raw
// value, which may lie outside); byte 3 one field set to an edge of its range
// or past it (0: none). The rest is the file, of any size.
//
// Built with -fsanitize=fuzzer this is a libFuzzer target; built without, it
// is replayed over its corpus by fuzz_replay.cpp.
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

// The WAV of the model's samples: every block, then the loop again for each
// pass (played WAVs are checked otherwise, below).
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
    const std::uint32_t rate = o.sampleRate;
    const auto data = static_cast<std::uint32_t>(2 * samples.size());
    std::vector<std::uint8_t> wav = {'R', 'I', 'F', 'F'};
    wav.reserve(44 + 2 * samples.size() + 68);
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

// One field at an edge of its range or past it, and the status it must give.
struct Edge {
    void (*set)(BRRConvertOptions&);
    int status;
};

const Edge kEdges[] = {
    {[](BRRConvertOptions& o) { o.loopCount = 0; }, BRR_STATUS_BAD_LOOP_COUNT},
    {[](BRRConvertOptions& o) { o.loopCount = BRR_MAX_LOOP_COUNT + 1; }, BRR_STATUS_BAD_LOOP_COUNT},
    {[](BRRConvertOptions& o) { o.loopCount = 5000; }, BRR_STATUS_BAD_LOOP_COUNT},
    {[](BRRConvertOptions& o) { o.sampleRate = 0; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.sampleRate = 0x80000000u; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.sampleRate = 0x7FFFFFFFu; }, BRR_OK},
    {[](BRRConvertOptions& o) { o.rules = -1; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.rules = 2; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.rules = 7; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.loopStart = -2; }, BRR_STATUS_BAD_LOOP_START},
    {[](BRRConvertOptions& o) { o.loopStart = INT64_MIN; }, BRR_STATUS_BAD_LOOP_START},
    {[](BRRConvertOptions& o) { o.pieceBlocks = BRR_MAX_PIECE_BLOCKS + 1; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.pieceBlocks = 134217728; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.pieceBlocks = SIZE_MAX; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.play = BRR_MAX_PITCH; }, BRR_OK},
    {[](BRRConvertOptions& o) { o.play = BRR_MAX_PITCH + 1; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.play = UINT32_MAX; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.rootNote = 127; }, BRR_OK},
    {[](BRRConvertOptions& o) { o.rootNote = -2; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.rootNote = 128; }, BRR_STATUS_BAD_OPTION},
    {[](BRRConvertOptions& o) { o.reserved[3] = 1; }, BRR_STATUS_BAD_OPTION},
};

// The file, read in place through a read function.
struct File {
    const std::uint8_t* data;
    std::size_t size;
};

int ReadFrom(void* context, std::uint64_t offset, void* buffer, std::size_t size)
{
    const auto* file = static_cast<const File*>(context);
    if (offset > file->size || size > file->size - offset) {
        return 1;
    }
    std::memcpy(buffer, file->data + offset, size);
    return 0;
}

// The same conversion planned and rendered through a read function, in
// pieces of 64 blocks (larger than any the memory path used, small enough
// to allocate quickly): it must give the same status and bytes. Also a plan
// changed by one block is refused, writing nothing.
void CheckThroughCallbacks(const std::uint8_t* file, std::size_t size, const BRRConvertOptions& options,
                           int status, const std::vector<std::uint8_t>& wav)
{
    File bytes{file, size};
    BRRConvertOptions whole = options;
    if (whole.pieceBlocks <= BRR_MAX_PIECE_BLOCKS) {
        whole.pieceBlocks = 64;
    }
    BRRConvertResult plan;
    const int planned = BRRPlan(ReadFrom, &bytes, size, &whole, &plan);
    Check(planned == status, "plan through a read function");
    std::vector<std::uint8_t> out;
    if (planned != BRR_OK) {
        return;
    }
    BRRConvertResult changed = plan;
    changed.totalBlocks += 1;
    Check(BRRRender(ReadFrom, &bytes, &whole, Collect, &out, &changed) ==
                  BRR_STATUS_INVALID_ARGUMENT && out.empty(),
          "a plan of other options");
    Check(BRRRender(ReadFrom, &bytes, &whole, Collect, &out, &plan) ==
                  BRR_OK && out == wav,
          "rendering through a read function, in other pieces");
}

// The options bytes 0 to 3 pick (see the top); `edgeStatus` is the status
// the field set to an edge must give (BRR_OK: none, or one inside).
BRRConvertOptions OptionsFrom(const std::uint8_t* data, std::size_t blockCount, int& edgeStatus)
{
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
    if ((data[2] & 0x80) != 0) {
        options.loopStart = data[2] & 0x7F;
    } else if (data[2] != 0 && blockCount > 0) {
        options.loopStart = static_cast<std::int64_t>(data[2] % blockCount);
    }
    edgeStatus = BRR_OK;
    if (data[3] != 0) {
        const Edge& edge = kEdges[(data[3] - 1u) % (sizeof kEdges / sizeof kEdges[0])];
        edge.set(options);
        edgeStatus = edge.status;
    }
    return options;
}

// In one call into a buffer: the WAV's samples, in the host's order.
void CheckDecodedToPCM(const std::uint8_t* file, std::size_t fileSize, const BRRConvertOptions& options,
                       const BRRConvertResult& result, const std::vector<std::uint8_t>& wav)
{
    std::uint64_t count = 0;
    Check(BRRDecodedSize(file, fileSize, &options, &count) == BRR_OK && count == result.sampleCount, "decoded size");
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(count));
    Check(BRRDecodeToPCM(file, fileSize, &options, pcm.data(), pcm.size(), nullptr) == BRR_OK, "decode to PCM");
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        Check(pcm[i] == static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8), "PCM samples");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    const std::uint8_t* file = data + 4;
    const std::size_t fileSize = size - 4;
    int edgeStatus = BRR_OK;
    const BRRConvertOptions options = OptionsFrom(data, fileSize / 9, edgeStatus);
    std::vector<std::uint8_t> wav;
    BRRConvertResult result;
    const int status = BRRConvertMemory(file, fileSize, &options, Collect, &wav, &result);
    CheckThroughCallbacks(file, fileSize, options, status, wav);
    const Model model = edgeStatus != BRR_OK ? Model{edgeStatus} : Expect(file, fileSize, options);
    Check(status == model.status, "status");
    if (status != BRR_OK) {
        Check(wav.empty(), "a refused input writes nothing");
        std::int16_t one = 0;
        Check(BRRDecodeToPCM(file, fileSize, &options, &one, 1, nullptr) == status, "decode to PCM refuses alike");
        return 0;
    }
    Check(result.blockCount == model.blocks && result.loopStart == model.loopStart &&
              (result.smpl != 0) == model.smpl,
          "plan");
    Check(result.wavSize == wav.size(), "WAV size");
    std::vector<std::int16_t> starts;
    const std::vector<std::uint8_t> expected = ExpectedWav(file, model, options, starts);
    if (options.play == 0) {
        Check(wav == expected, "WAV bytes");
    } else {
        // Played: every decoded sample is fed, one output per pitch step.
        const std::uint64_t fed = (expected.size() - 44) / 2;
        Check(result.sampleCount == (fed * BRR_PITCH_ONE + options.play - 1) / options.play &&
                  result.sampleRate == BRR_PLAYBACK_RATE,
              "played sample count");
    }
    Check(result.stability == ExpectedStability(starts, options.loopCount), "stability report");
    CheckDecodedToPCM(file, fileSize, options, result, wav);
    return 0;
}
